// Broken and hostile messages as the host reads them: an attachment that is cut off or damaged is
// never saved as if it were whole, text is read past what would stop a C string or a charset
// converter, names come without control characters, and a message built to blow up the MIME
// tree is read only as far as a fixed amount of memory allows.
#include <sys/resource.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/maildir/maildir_fixture.h"

namespace vexa {
namespace {

using test::ReadBytes;
using test::TempMaildir;

const std::string kHead =
    "From: eFax <message@inbound.efax.com>\nTo: fax@example.com\nSubject: Fax\nMIME-Version: 1.0\n";

// A fax: a notice and one attachment part with the headers and content given, closed or not.
std::string Fax(const std::string& partHeaders, const std::string& content, bool closed = true) {
    return kHead + "Content-Type: multipart/mixed; boundary=b\n\n"
                   "--b\nContent-Type: text/plain\n\n* The reference number for this fax is K-7.\n"
                   "--b\n" + partHeaders + "\n" + content + (closed ? "\n--b--\n" : "");
}

const std::string kTiff = "Content-Type: image/tiff; name=fax.tif\nContent-Transfer-Encoding: base64\n";
// "II*\0" and 54 more bytes, in two lines of base64.
const std::string kTiffBytes = std::string("II*\0", 4) + std::string(54, '\x5A');
const std::string kTiffBase64 = test::Base64(kTiffBytes.substr(0, 57)) + "\n" + test::Base64(kTiffBytes.substr(57));

// Saves attachment 1 of `message`; the error's description, or "" when it saved.
std::string SaveError(TempMaildir& maildir, const std::string& message, const std::string& name = "1.x") {
    auto item = maildir.Load(maildir.Put("new", name, message));
    if (!item) return "not a mail item";
    const auto target = maildir.Outside() / ("saved-" + name);
    try {
        auto attachments = item->Attachments();
        if (attachments->Count() < 1) return "no attachment";
        attachments->Item(1)->SaveAsFile(target.string());
    } catch (const HostError& e) {
        EXPECT_FALSE(std::filesystem::exists(target)) << "a file was left behind";
        return e.Description();
    }
    return "";
}

TEST(MaildirHostileMessageTest, AnAttachmentTheMessageBreaksOffInIsNotSaved) {
    const std::string incomplete = "The attachment \"fax.tif\" is incomplete: the message breaks off before its end.";
    const std::string whole = Fax(kTiff, kTiffBase64);
    struct Case {
        const char* name;
        std::string message;
        std::string error;
    };
    const Case cases[] = {
        {"whole", whole, ""},
        {"cut in the base64", whole.substr(0, whole.find(kTiffBase64) + 30), incomplete},
        {"cut at the end of a base64 line", Fax(kTiff, test::Base64(kTiffBytes.substr(0, 57)) + "\n", false),
         incomplete},
        {"only the closing boundary missing", Fax(kTiff, kTiffBase64, false), incomplete},
        {"cut in the part's header", whole.substr(0, whole.find("name=fax.tif") + 8),
         "The attachment \"fax\" is incomplete: the message breaks off before its end."},
        // A message that is the attachment itself ends where its content does.
        {"no multipart", kHead + kTiff + "\n" + kTiffBase64 + "\n", ""},
        // The attachment ends at the boundary of the part after it: whole, however the rest ends.
        {"cut in a later part", Fax(kTiff, kTiffBase64 + "\n--b\nContent-Type: text/plain\n\nnotes", false), ""},
    };
    TempMaildir maildir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = std::to_string(++n) + ".x";
        EXPECT_EQ(SaveError(maildir, c.message, name), c.error);
        if (c.error.empty()) {
            EXPECT_EQ(ReadBytes(maildir.Outside() / ("saved-" + name)), kTiffBytes);
        }
    }
}

TEST(MaildirHostileMessageTest, Base64IsCheckedAsItIsDecoded) {
    struct Case {
        std::string base64;
        std::string bytes;  // what is saved; unset when the save must fail
        bool saves = true;
    };
    const std::string stray = "The attachment \"fax.tif\" is damaged: its base64 holds characters that base64 does not use.";
    const Case cases[] = {
        {"QQ==", "A"},
        {"QUI=", "AB"},
        {"QUJD", "ABC"},
        {" QU\r\nJD\t\n \n", "ABC"},
        {"", ""},
        {"QQ", "", false},
        {"QUJ", "", false},
        {"Q===", "", false},
        {"QQ==QQ==", "", false},
        {"QU*D", "", false},
        {"This is not base64 at all!", "", false},
        {std::string("II*\0\xFF\xFE raw", 10), "", false},
    };
    TempMaildir maildir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base64);
        const std::string name = std::to_string(++n) + ".x";
        const std::string error = SaveError(maildir, Fax(kTiff, c.base64), name);
        if (c.saves) {
            EXPECT_EQ(error, "");
            EXPECT_EQ(ReadBytes(maildir.Outside() / ("saved-" + name)), c.bytes);
        } else {
            EXPECT_TRUE(error == stray || error.find("is damaged: its base64 ") != std::string::npos) << error;
            EXPECT_NE(error, "");
        }
    }
    EXPECT_EQ(SaveError(maildir, Fax(kTiff, "QQ"), "incomplete.x"),
              "The attachment \"fax.tif\" is damaged: its base64 ends in the middle of a group of four characters.");
    EXPECT_EQ(SaveError(maildir, Fax(kTiff, "QQ==QQ=="), "after-end.x"),
              "The attachment \"fax.tif\" is damaged: its base64 goes on after its end.");
    EXPECT_EQ(SaveError(maildir, Fax(kTiff, "QU*D"), "stray.x"), stray);
}

TEST(MaildirHostileMessageTest, TransferEncodingsAreDecodedOrRefused) {
    struct Case {
        const char* encoding;
        std::string content;
        std::string bytes;
        std::string error;
    };
    const Case cases[] = {
        {"7bit", "plain", "plain", ""},
        {"8bit", "Gr\xFC\xDF" "e", "Gr\xFC\xDF" "e", ""},
        {" BASE64 ", "QUJD", "ABC", ""},
        // Escapes that are none stay as they are, as RFC 2045 advises robust decoders.
        {"quoted-printable", "II*=ZZ =4 ok=3D=\nmore", "II*=ZZ =4 ok=more", ""},
        {"x-uuencode", "begin 644 fax.tif\n#04)#\n`\nend", "ABC", ""},
        {"x-squeezed", "QUJD", "",
         "The attachment \"fax.tif\" is in the transfer encoding \"x-squeezed\", which cannot be decoded."},
    };
    TempMaildir maildir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoding);
        const std::string name = std::to_string(++n) + ".x";
        const std::string headers =
            "Content-Type: image/tiff; name=fax.tif\nContent-Transfer-Encoding: " + std::string(c.encoding) + "\n";
        EXPECT_EQ(SaveError(maildir, Fax(headers, c.content), name), c.error);
        if (c.error.empty()) {
            EXPECT_EQ(ReadBytes(maildir.Outside() / ("saved-" + name)), c.bytes);
        }
    }
}

TEST(MaildirHostileMessageTest, BodyIsReadPastWhatWouldStopIt) {
    const std::string reference = "* The reference number for this fax is K-7.";
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        const char* name;
        std::string parts;  // the parts of a multipart/mixed with boundary b, closed
        std::string body;
    };
    const Case cases[] = {
        {"NUL bytes before the reference",
         std::string("--b\nContent-Type: text/plain\n\nFax") + '\0' + "Message" + '\0' + "\n" + reference + "\n",
         "FaxMessage\n" + reference},
        {"ISO-2022-JP garbage", "--b\nContent-Type: text/plain; charset=iso-2022-jp\n\n\x1B$B\xFF\xFE\x1B(B\n" + reference + "\n",
         fffd + fffd + "\n" + reference},
        {"an unknown charset", "--b\nContent-Type: text/plain; charset=x-unknown\n\nK\xF6ln\n" + reference + "\n",
         "K" + fffd + "ln\n" + reference},
        {"UTF-8 that is Latin-1", "--b\nContent-Type: text/plain; charset=utf-8\n\nK\xF6ln\n" + reference + "\n",
         "K" + fffd + "ln\n" + reference},
        {"empty parts first", "--b\n--b\n\n--b\nContent-Type: text/plain\n\n" + reference + "\n", reference},
        {"a blank text part, then HTML", "--b\nContent-Type: text/plain\n\n \n\n--b\nContent-Type: text/html\n\n<p>" +
                                            reference + "</p>\n",
         reference},
    };
    TempMaildir maildir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto item = maildir.Load(maildir.Put(
            "new", std::to_string(++n) + ".x", kHead + "Content-Type: multipart/mixed; boundary=b\n\n" + c.parts + "--b--\n"));
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->Body(), c.body);
    }
}

TEST(MaildirHostileMessageTest, OnlyTheFirstMegabyteOfATextPartIsRead) {
    TempMaildir maildir;
    const std::string line(99, 'x');
    std::string text = "* The reference number for this fax is K-7.\n";
    while (text.size() < (3u << 20)) text += line + "\n";
    auto item = maildir.Load(maildir.Put("new", "1.x", kHead + "Content-Type: text/plain\n\n" + text));
    ASSERT_NE(item, nullptr);
    const std::string body = item->Body();
    EXPECT_EQ(body.size(), 1u << 20);
    EXPECT_EQ(body.substr(0, 44), text.substr(0, 44));
}

TEST(MaildirHostileMessageTest, AttachmentNamesAreTextWithoutControlCharacters) {
    struct Case {
        std::string disposition;
        std::string name;
    };
    const Case cases[] = {
        {"attachment; filename*=utf-8''fax%0D%0AX-Injected%3A%20yes%1B%5B31m.tif", "fax__X-Injected: yes_[31m.tif"},
        {"attachment; filename*=utf-8''Fax%FF.tif", "Fax\xEF\xBF\xBD.tif"},  // a byte that is no UTF-8
        {"attachment; filename=\"../../etc/passwd\"", "../../etc/passwd"},
        // Marked as an attachment without a name: an attachment all the same.
        {"attachment; filename=\"\"", ""},
        {"attachment", ""},
    };
    TempMaildir maildir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.disposition);
        auto item = maildir.Load(maildir.Put(
            "new", std::to_string(++n) + ".x",
            Fax("Content-Type: image/tiff\nContent-Disposition: " + c.disposition + "\nContent-Transfer-Encoding: base64\n",
                kTiffBase64)));
        ASSERT_NE(item, nullptr);
        auto attachments = item->Attachments();
        ASSERT_EQ(attachments->Count(), 1);
        EXPECT_EQ(attachments->Item(1)->FileName(), c.name);
        EXPECT_EQ(item->Body(), "* The reference number for this fax is K-7.");
    }
}

std::string Repeat(const std::string& text, int times) {
    std::string out;
    out.reserve(text.size() * static_cast<std::size_t>(times));
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

TEST(MaildirHostileMessageTest, AMessageBeyondTheLimitsIsReadOnlyInPart) {
    std::string nested = kHead + "Content-Type: multipart/mixed; boundary=b0\n\n";
    for (int i = 1; i < 2000; ++i) nested += "--b" + std::to_string(i - 1) + "\nContent-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n";
    nested += "--b1999\n" + kTiff + "\n" + kTiffBase64 + "\n";
    for (int i = 1999; i >= 0; --i) nested += "--b" + std::to_string(i) + "--\n";
    struct Case {
        const char* name;
        std::string message;
        std::string error;
    };
    const Case cases[] = {
        {"20000 header fields", kHead + Repeat("X-Filler: x\n", 20000) + "\n" + "body\n",
         "The message was not read in full: it has more than 10000 header fields."},
        {"a header field of 3 MB", kHead + "X-Long: " + std::string(3u << 20, 'x') + "\n\nbody\n",
         "The message was not read in full: it has a header field of more than 2 MB."},
        {"20000 parts", Fax(kTiff, kTiffBase64 + "\n" + Repeat("--b\nx\n", 20000)),
         "The message was not read in full: it has more than 10000 MIME parts."},
        {"parts nested 2000 deep", nested, "The message was not read in full: its MIME parts are nested too deep."},
    };
    TempMaildir maildir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto item = maildir.Load(maildir.Put("new", std::to_string(++n) + ".x", c.message));
        ASSERT_NE(item, nullptr);
        // What came before the limit is there: the add-in still sees who sent it.
        ASSERT_EQ(item->SenderAddresses().size(), 1u);
        EXPECT_EQ(item->SenderAddresses()[0].address, "message@inbound.efax.com");
        EXPECT_EQ(item->Subject(), "Fax");
        try {
            item->Attachments();
            ADD_FAILURE() << "attachments of a message not read in full";
        } catch (const HostError& e) {
            EXPECT_EQ(e.Description(), c.error);
        }
    }
}

TEST(MaildirHostileMessageTest, AFloodOfHeaderFieldsOrPartsCostsNoMemory) {
    TempMaildir maildir;
    // About 5 MB each; GMime would hold every field and part as objects of a few hundred bytes.
    const auto fields = maildir.Put("new", "1.x", kHead + Repeat("X-Filler-Field: filler\n", 250000) + "\nbody\n");
    const auto parts = maildir.Put("new", "2.x", Fax(kTiff, kTiffBase64 + "\n" + Repeat("--b\nContent-Type: text/plain\n\nx\n", 150000)));
    for (const auto& file : {fields, parts}) {
        auto item = maildir.Load(file);
        ASSERT_NE(item, nullptr);
        EXPECT_THROW(item->Attachments(), HostError);
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    if (!test::kAddressSanitizer) {
        EXPECT_LT(usage.ru_maxrss, 40 * 1024) << "peak kilobytes: the tree grew with the message";
    }
}

}  // namespace
}  // namespace vexa
