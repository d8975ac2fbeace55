// Text as the Maildir host hands it on: valid UTF-8 whatever the bytes and the declared charset,
// and attachment names without control characters.
#include <string>

#include <gtest/gtest.h>

#include "adapters/maildir/mime_text.h"

namespace vexa::maildir {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(MimeTextTest, ValidUtf8ReplacesWhatIsNoUtf8) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"plain ASCII", "plain ASCII"},
        {"Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"Gr\xFC\xDF" "e", "Gr" + kFffd + kFffd + "e"},                   // Latin-1
        {"cut \xE2\x82", "cut " + kFffd + kFffd},                          // a sequence cut short
        {"\xC0\xAF overlong", kFffd + kFffd + " overlong"},                // "/" in two bytes
        {"\xED\xA0\x80 surrogate", kFffd + kFffd + kFffd + " surrogate"},  // U+D800
        {"\xF4\x90\x80\x80 beyond", kFffd + kFffd + kFffd + kFffd + " beyond"},
        {"\x80 lone continuation", kFffd + " lone continuation"},
    };
    for (const auto& c : cases) EXPECT_EQ(ValidUtf8(c.in), c.out) << c.in;
}

TEST(MimeTextTest, CharsetToUtf8ConvertsAndGoesOnAfterBadBytes) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* charset;
        std::string text;
    };
    const Case cases[] = {
        {"Latin-1", "Gr\xFC\xDF" "e", "iso-8859-1", "Gr\xC3\xBC\xC3\x9F" "e"},
        {"no charset", "Gr\xC3\xBC\xC3\x9F" "e", nullptr, "Gr\xC3\xBC\xC3\x9F" "e"},
        {"UTF-8 that is Latin-1", "Gr\xFC\xDF" "e", "utf-8", "Gr" + kFffd + kFffd + "e"},
        {"unknown charset", "K\xF6ln ok", "x-no-such-charset", "K" + kFffd + "ln ok"},
        {"ISO-2022-JP", "\x1B$B$3$s\x1B(B ok", "iso-2022-jp", "\xE3\x81\x93\xE3\x82\x93 ok"},
        // Bytes ISO-2022-JP does not allow: the text after them survives.
        {"ISO-2022-JP garbage", "\x1B$B\xFF\xFE\x1B(B * The reference is K-7.", "iso-2022-jp",
         kFffd + kFffd + " * The reference is K-7."},
        {"shift state left open", "a\x1B$B$3", "iso-2022-jp", "a\xE3\x81\x93"},
        {"NUL bytes are dropped", std::string("Fax\0Message\0", 12), "us-ascii", "FaxMessage"},
        {"UTF-16 with its NUL bytes", std::string("F\0a\0x\0", 6), "utf-16le", "Fax"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CharsetToUtf8(c.bytes, c.charset), c.text);
    }
    // A large text with a bad byte every few bytes still converts in one pass.
    std::string many;
    for (int i = 0; i < 20000; ++i) many += "ab\xFF";
    EXPECT_EQ(CharsetToUtf8(many, "iso-2022-jp").size(), 20000u * (2 + kFffd.size()));
}

TEST(MimeTextTest, AttachmentNamesLoseTheirControlCharacters) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"fax.tif", "fax.tif"},
        {"fax\r\nX-Injected: yes.tif", "fax__X-Injected: yes.tif"},
        {"a\tb\x01\x1B[31m\x7F.tif", "a_b__[31m_.tif"},
        {"c1 \xC2\x85 and \xC2\xA0 nbsp", "c1 _ and \xC2\xA0 nbsp"},
        {"Fax M\xC3\xBCller.tif", "Fax M\xC3\xBCller.tif"},
        {"bad \xFF.tif", "bad " + kFffd + ".tif"},
        {"../../etc/passwd", "../../etc/passwd"},
    };
    for (const auto& c : cases) EXPECT_EQ(AttachmentNameText(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace vexa::maildir
