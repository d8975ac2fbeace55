// What the store procedures read out of mail text: reference numbers, fax numbers, tracking tags.

#include <gtest/gtest.h>

#include "archive/mail_text.h"

namespace vexa {
namespace {

TEST(MailText, ReferenceNumber) {
    const struct {
        const char* body;
        const char* number;
    } cases[] = {
        {"Fax received.\r\n* The reference number for this fax is NY4711-23. Thank you", "NY4711-23"},
        {"* THE REFERENCE NUMBER FOR THIS FAX IS abc.", "abc"},
        {"* The reference number for this fax is .", "(unknown)"},
        {"* The reference number for this fax is NY4711 without a dot", "(unknown)"},
        {"The reference number for this fax is NY1.", "(unknown)"},  // the marker starts with "* "
        {"", "(unknown)"},
        {"* The reference number for this fax is 1.2.3.", "1"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReferenceNumber(c.body), c.number) << c.body;
}

TEST(MailText, FaxNumber) {
    EXPECT_EQ(FaxNumber("12125551234@efaxsend.com"), "12125551234");
    EXPECT_EQ(FaxNumber("a@b@c"), "a");
    EXPECT_EQ(FaxNumber(""), "(unknown)");
    EXPECT_EQ(FaxNumber("12125551234"), "(unknown)");
    EXPECT_EQ(FaxNumber("@efaxsend.com"), "(unknown)");
}

TEST(MailText, TrackingTags) {
    EXPECT_EQ(TrackingTag(42), " {0000042}");
    EXPECT_EQ(TrackingTag(10000000), " {10000000}");
    const struct {
        const char* body;
        std::optional<std::int64_t> id;
    } cases[] = {
        {"Re: Quote for ACME {0000042}", 42},
        {"Re: Quote {0000042} {0000043}", 43},
        {"Re: Quote {0000042} footer }", std::nullopt},
        {"no braces at all", std::nullopt},
        {"{}", std::nullopt},
        {"{abc}", std::nullopt},
        {"} {0000042", std::nullopt},
        {"{ 42}", std::nullopt},
        {"{+42}", std::nullopt},
        {"{-1}", std::nullopt},
        {"{1e3}", std::nullopt},
        {"{&H1F}", std::nullopt},
        {"{1 OR 1=1}", std::nullopt},
        {"{40000}", 40000},
        {"{99999999999999999999}", std::nullopt},  // larger than any row: nothing to update
        {"{{0000007}", 7},
    };
    for (const auto& c : cases) EXPECT_EQ(TaggedRowId(c.body), c.id) << c.body;
}

}  // namespace
}  // namespace vexa
