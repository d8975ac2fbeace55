// Encoded header text as real mailers write it: subjects, display names and attachment names come
// out as the sender meant them, whatever GMime's own decoder would lose.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "adapters/maildir/raw_header.h"
#include "adapters/maildir/rfc2047.h"
#include "tests/maildir/maildir_fixture.h"

namespace vexa {
namespace {

using maildir::DecodeHeaderText;
using maildir::DecodePhrase;
using test::TempMaildir;

const std::string kFffd = "\xEF\xBF\xBD";

std::string Repeated(const std::string& unit, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += unit;
    return text;
}

TEST(Rfc2047Test, HeaderTextIsDecodedAsMailReadersShowIt) {
    struct Case {
        const char* name;
        std::string raw;
        std::string text;
    };
    const Case cases[] = {
        {"eFax subject: a word after one ending in padding",
         " =?UTF-8?B?ZUZheCBtZXNzYWdlIGZyb20gIjMxMDU1NTAxOTki?=\r\n =?UTF-8?B?IC0gMSBwYWdlKHMpLCBDYWxsZXItSUQ6IA==?=\r\n"
         " =?UTF-8?B?Wm/DqyDDhW5nc3Ryw7Zt?=\r\n",
         "eFax message from \"3105550199\" - 1 page(s), Caller-ID: Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m"},
        {"Q, underscore is a space", "=?ISO-8859-1?Q?Fax_f=FCr_M=FCller?=", "Fax f\xC3\xBCr M\xC3\xBCller"},
        {"blanks between words go", "=?ISO-8859-1?Q?a?= \t =?ISO-8859-1?Q?b?=", "ab"},
        {"blanks between word and text stay", " Re:  =?ISO-8859-1?Q?a?=\t b  ", "Re:  a\t b"},
        {"a character split across words", "=?UTF-8?Q?M=C3?=\n =?utf-8?q?=BCller?=", "M\xC3\xBCller"},
        {"a character split across base64 words", "=?UTF-8?B?4oI=?= =?UTF-8?B?rA==?=", "\xE2\x82\xAC"},
        {"mixed charsets", "=?ISO-8859-1?Q?Gr=FC=DF?= =?UTF-8?Q?e_=E2=82=AC?= =?KOI8-R?B?8NLJ18XU?=",
         "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {"a charset with a shift state", "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= fax", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88 fax"},
        {"a language after the charset", "=?UTF-8*en?Q?Hello?=", "Hello"},
        {"unknown charsets read as UTF-8, else Windows-1252", "=?X-UNKNOWN?Q?caf=C3=A9?= =?X-OTHER?Q?_caf=E9?=",
         "caf\xC3\xA9 caf\xC3\xA9"},
        {"bytes a known charset does not allow", "=?UTF-8?Q?Gr=FC=DFe?=", "Gr" + kFffd + kFffd + "e"},
        {"base64 without its padding", "=?UTF-8?B?w7w?=", "\xC3\xBC"},
        {"a word inside text", "Fax=?UTF-8?Q?_f=C3=BCr?= you", "Fax f\xC3\xBCr you"},
        {"words without blanks between", "=?UTF-8?Q?a?==?UTF-8?Q?b?=", "ab"},
        {"an = that starts no byte", "=?UTF-8?Q?100=25_=?=", "100% ="},
        {"unknown encoding stays", "=?UTF-8?X?abc?= x", "=?UTF-8?X?abc?= x"},
        {"unterminated word stays", "=?UTF-8?Q?abc", "=?UTF-8?Q?abc"},
        {"damaged base64 stays", "=?UTF-8?B?a$b?= =?UTF-8?B?YQ===?= =?UTF-8?B?YWJjZ?=",
         "=?UTF-8?B?a$b?= =?UTF-8?B?YQ===?= =?UTF-8?B?YWJjZ?="},
        {"no charset stays", "=??Q?abc?=", "=??Q?abc?="},
        {"a blank inside a word ends it", "=?UTF-8?Q?a b?= =?UTF 8?Q?c?=", "=?UTF-8?Q?a b?= =?UTF 8?Q?c?="},
        {"word starts that no end follows stay", Repeated("=?a?q?a", 100000), Repeated("=?a?q?a", 100000)},
        {"raw UTF-8 kept", "Gr\xC3\xBC\xC3\x9F" "e", "Gr\xC3\xBC\xC3\x9F" "e"},
        {"raw Windows-1252 read as such", "Gr\xFC\xDF" "e \x80", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"},
        {"a NUL in a word is no text", "=?UTF-8?Q?a=00b?=", "ab"},
        {"empty", " \r\n ", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeHeaderText(c.raw), c.text) << c.name;
}

TEST(Rfc2047Test, DisplayNamesAreUnquotedAndDecoded) {
    struct Case {
        std::string raw;
        std::string name;
    };
    const Case cases[] = {
        {"=?ISO-8859-1?Q?Andr=E9?= Pirard", "Andr\xC3\xA9 Pirard"},
        {"\"=?UTF-8?Q?M=C3=BCller?=, Hans\"", "M\xC3\xBCller, Hans"},
        {"\"Fax \\\"Desk\\\"\" (office)", "Fax \"Desk\""},
        {"=?UTF-8?B?WsO2?= =?UTF-8?B?w6s=?= (=?UTF-8?Q?x?=)", "Z\xC3\xB6\xC3\xAB"},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodePhrase(c.raw), c.name) << c.raw;
}

TEST(Rfc2047Test, RawPiecesOfFieldsAreFound) {
    EXPECT_EQ(maildir::RawParameter(" attachment; size=3;\n filename=\"a; \\\"b\\\".pdf\"", "FILENAME"), "a; \"b\".pdf");
    EXPECT_EQ(maildir::RawParameter("attachment; filename*=utf-8''x.pdf", "filename"), std::nullopt);
    EXPECT_EQ(maildir::RawParameter("image/tiff; name==?UTF-8?Q?x?=", "name"), "=?UTF-8?Q?x?=");

    const auto mailboxes = maildir::RawMailboxes(
        " \"A, <b>\" <a@x>, plain@y, Group: =?UTF-8?Q?Z?= (c, <d>) < z@y >;, <n@z>");
    ASSERT_EQ(mailboxes.size(), 3u);
    EXPECT_EQ(mailboxes[0].address, "a@x");
    EXPECT_EQ(mailboxes[0].phrase, "\"A, <b>\"");
    EXPECT_EQ(mailboxes[1].address, "z@y");
    EXPECT_EQ(mailboxes[1].phrase, "=?UTF-8?Q?Z?= (c, <d>)");
    EXPECT_EQ(mailboxes[2].address, "n@z");
    EXPECT_EQ(mailboxes[2].phrase, "");
}

TEST(Rfc2047Test, MessagesShowWhatTheirSenderWrote) {
    const std::string message =
        "From: =?UTF-8?B?Wm/DqyDDhW5nc3Ryw7Zt?= =?UTF-8?B?IA==?= =?UTF-8?B?KEZheCk=?= <zoe@example.com>\n"
        "To: Desk <desk@example.com>, Team: =?UTF-8?B?IA==?= =?UTF-8?Q?=C3=85sa?= <asa@example.com>;\n"
        "Subject: =?UTF-8?B?ZUZheCBtZXNzYWdlIGZyb20gIjMxMDU1NTAxOTki?=\n"
        " =?UTF-8?B?IC0gMSBwYWdlKHMpLCBDYWxsZXItSUQ6IA==?=\n"
        " =?UTF-8?B?Wm/DqyDDhW5nc3Ryw7Zt?=\n"
        "Date: Tue, 14 Mar 2023 10:02:05 +0000\n"
        "MIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=b\n\n"
        "--b\nContent-Type: text/plain\n\nfax\n"
        "--b\nContent-Type: application/pdf\n"
        "Content-Disposition: attachment;\n filename=\"=?UTF-8?B?RmF4IA==?= =?UTF-8?B?w4VuZ3N0csO2bS5wZGY=?=\"\n\n%PDF\n"
        "--b\nContent-Type: image/tiff; name=\"=?ISO-8859-1?Q?M=FCller=0A.tif?=\"\n\nII*\n"
        "--b\nContent-Type: image/tiff; name=\"ignored.tif\"\n"
        "Content-Disposition: attachment; filename*=UTF-8''%C3%85.tif\n\nII*\n"
        "--b--\n";
    TempMaildir maildir;
    auto item = maildir.Load(maildir.Put("new", "1.x", message));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Subject(), "eFax message from \"3105550199\" - 1 page(s), Caller-ID: Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m");
    ASSERT_EQ(item->SenderAddresses().size(), 1u);
    EXPECT_EQ(item->SenderAddresses()[0].name, "Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m (Fax)");
    auto recipients = item->Recipients();
    ASSERT_EQ(recipients->Count(), 2);
    EXPECT_EQ(recipients->Item(1)->Name(), "Desk");
    EXPECT_EQ(recipients->Item(2)->Name(), " \xC3\x85sa");
    EXPECT_EQ(recipients->Item(2)->Address(), "asa@example.com");
    auto attachments = item->Attachments();
    ASSERT_EQ(attachments->Count(), 3);
    EXPECT_EQ(attachments->Item(1)->FileName(), "Fax \xC3\x85ngstr\xC3\xB6m.pdf");
    EXPECT_EQ(attachments->Item(2)->FileName(), "M\xC3\xBCller_.tif") << "still without control characters";
    EXPECT_EQ(attachments->Item(3)->FileName(), "\xC3\x85.tif");
}

}  // namespace
}  // namespace vexa
