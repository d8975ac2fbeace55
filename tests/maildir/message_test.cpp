// Reading messages: subjects, bodies, attachments, addresses and dates as the add-in sees them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/maildir/maildir_fixture.h"
#include "tests/posix/file_size_limit.h"

namespace vexa {
namespace {

using test::Base64;
using test::LocalOf;
using test::ReadBytes;
using test::TempMaildir;

std::string Message(const std::string& headers, const std::string& body) {
    return "From: eFax <message@inbound.efax.com>\n"
           "To: fax@example.com\n"
           "Date: Tue, 1 Dec 2026 09:30:00 +0100\n" +
           headers + "\n" + body;
}

TEST(MaildirMessageTest, SubjectIsDecodedToUtf8) {
    struct Case {
        const char* header;
        const char* subject;
    };
    const Case cases[] = {
        {"Subject: =?ISO-8859-1?Q?Fax_f=FCr_M=FCller?=\n", "Fax für Müller"},
        {"Subject: =?UTF-8?B?UmVjaG51bmcg4oKsIDUg4oCTIGVybGVkaWd0?=\n", "Rechnung € 5 – erledigt"},
        {"Subject: Fax from\n 0049 30 1234567\n", "Fax from 0049 30 1234567"},
        {"Subject: Re: =?iso-8859-1?q?=C4rger?= mit {0000042}\n", "Re: Ärger mit {0000042}"},
        {"", ""},
    };
    TempMaildir maildir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        auto item = maildir.Load(maildir.Put("cur", std::to_string(++n) + ".x:2,S", Message(c.header, "text\n")));
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->Subject(), c.subject);
    }
}

TEST(MaildirMessageTest, BodyIsTheFirstPlainTextPartDecoded) {
    struct Case {
        const char* name;
        std::string message;
        std::string body;
    };
    const Case cases[] = {
        {"quoted-printable UTF-8",
         Message("Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: quoted-printable\n",
                 "Gr=C3=BC=C3=9Fe,\n* The reference number for this fax is =\nK-77.\n"),
         "Grüße,\n* The reference number for this fax is K-77.\n"},
        {"base64 ISO-8859-1",
         Message("Content-Type: text/plain; charset=ISO-8859-1\nContent-Transfer-Encoding: base64\n",
                 "R3L832UgYXVzIEv2bG4KKiBUaGUgcmVmZXJlbmNlIG51bWJlciBmb3IgdGhpcyBmYXggaXMgSy03Ny4K\n"),
         "Grüße aus Köln\n* The reference number for this fax is K-77.\n"},
        {"text part of a nested alternative",
         Message("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=outer\n",
                 "--outer\n"
                 "Content-Type: multipart/alternative; boundary=inner\n\n"
                 "--inner\nContent-Type: text/html; charset=UTF-8\n\n<p>HTML version</p>\n"
                 "--inner\nContent-Type: text/plain; charset=UTF-8\n\nPlain version {0000042}\n"
                 "--inner--\n"
                 "--outer\nContent-Type: application/pdf; name=fax.pdf\nContent-Transfer-Encoding: base64\n\n"
                 "JVBERg==\n"
                 "--outer--\n"),
         "Plain version {0000042}"},
        {"HTML only",
         Message("Content-Type: text/html; charset=UTF-8\n",
                 "<html><head><title>Fax</title><style>p {color: red}</style></head><body>\n"
                 "<p>Hello&nbsp;<b>World</b></p><div>Ref &amp; Co</div>line<br>break &#8364; &lt;x&gt;\n"
                 "</body></html>\n"),
         "Hello World\nRef & Co\nline\nbreak € <x>"},
        {"only a text attachment",
         Message("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n",
                 "--b\nContent-Type: text/plain; name=notes.txt\nContent-Disposition: attachment; filename=notes.txt\n\n"
                 "not the body\n--b--\n"),
         ""},
    };
    TempMaildir maildir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto item = maildir.Load(maildir.Put("new", std::to_string(++n) + ".x", c.message));
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->Body(), c.body);
    }
}

// A fax with its pages nested one multipart deeper, as some gateways send them.
std::string FaxWithAttachments(const std::string& pdf) {
    return Message("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"=_outer\"\n",
                   "--=_outer\nContent-Type: text/plain\n\nYou have received a fax.\n"
                   "--=_outer\nContent-Type: application/pdf\n"
                   "Content-Disposition: attachment; filename*=UTF-8''Fax%20%C3%BCber%20M%C3%BCller.pdf\n"
                   "Content-Transfer-Encoding: base64\n\n" +
                       Base64(pdf) +
                       "\n"
                       "--=_outer\nContent-Type: multipart/mixed; boundary=\"=_inner\"\n\n"
                       "--=_inner\nContent-Type: image/tiff\n"
                       "Content-Disposition: attachment; filename=\"=?UTF-8?B?U2VpdGUgMSDigJMgRGVja2JsYXR0LnRpZg==?=\"\n"
                       "Content-Transfer-Encoding: quoted-printable\n\n"
                       "II*=00=FF=\nend\n"
                       "--=_inner\nContent-Type: text/plain; name=\"notes.txt\"\n\nsee pages\n"
                       "--=_inner--\n"
                       "--=_outer--\n");
}

TEST(MaildirMessageTest, AttachmentsAreTheNamedPartsInDocumentOrder) {
    TempMaildir maildir;
    auto item = maildir.Load(maildir.Put("cur", "1.x:2,S", FaxWithAttachments("%PDF")));
    ASSERT_NE(item, nullptr);
    auto attachments = item->Attachments();
    ASSERT_EQ(attachments->Count(), 3);
    EXPECT_EQ(attachments->Item(1)->FileName(), "Fax über Müller.pdf");
    EXPECT_EQ(attachments->Item(2)->FileName(), "Seite 1 – Deckblatt.tif");
    EXPECT_EQ(attachments->Item(3)->FileName(), "notes.txt");
    EXPECT_THROW(attachments->Item(4), HostError);
    EXPECT_EQ(item->Body(), "You have received a fax.") << "the line end before a boundary belongs to it";
}

TEST(MaildirMessageTest, SaveAsFileWritesTheDecodedBytes) {
    const std::string pdf("%PDF-1.4\0\xFF\xFE\x00\x01 binary\r\n\xFF\n\x00", 26);
    TempMaildir maildir;
    auto item = maildir.Load(maildir.Put("cur", "1.x:2,S", FaxWithAttachments(pdf)));
    ASSERT_NE(item, nullptr);
    const auto out = maildir.Outside();
    // An older, longer file of the same name is replaced, not partly overwritten.
    test::WriteBytes(out / "fax.pdf", std::string(4096, 'o'));

    auto attachments = item->Attachments();
    attachments->Item(1)->SaveAsFile((out / "fax.pdf").string());
    attachments->Item(2)->SaveAsFile((out / "page.tif").string());
    attachments->Item(3)->SaveAsFile((out / "notes.txt").string());

    EXPECT_EQ(ReadBytes(out / "fax.pdf"), pdf);
    EXPECT_EQ(ReadBytes(out / "page.tif"), std::string("II*\0\xFF" "end", 8));
    EXPECT_EQ(ReadBytes(out / "notes.txt"), "see pages");
}

TEST(MaildirMessageTest, SaveAsFileIntoAMissingFolderFails) {
    TempMaildir maildir;
    auto item = maildir.Load(maildir.Put("cur", "1.x:2,S", FaxWithAttachments("%PDF")));
    ASSERT_NE(item, nullptr);
    const auto target = maildir.Outside() / "missing" / "fax.pdf";
    try {
        item->Attachments()->Item(1)->SaveAsFile(target.string());
        FAIL() << "saved into a missing folder";
    } catch (const HostError& e) {
        EXPECT_EQ(e.Description(), "Cannot save the attachment. Path does not exist. Verify the path is correct.");
    }
    EXPECT_FALSE(std::filesystem::exists(target.parent_path()));
}

TEST(MaildirMessageTest, SaveAsFileFailingHalfwayLeavesNoFile) {
    TempMaildir maildir;
    auto item = maildir.Load(maildir.Put("cur", "1.x:2,S", FaxWithAttachments(std::string(20000, '\x7F'))));
    ASSERT_NE(item, nullptr);
    const auto target = maildir.Outside() / "fax.pdf";
    auto attachment = item->Attachments()->Item(1);
    try {
        test::FileSizeLimit limit(4096);
        attachment->SaveAsFile(target.string());
        FAIL() << "the oversized save succeeded";
    } catch (const HostError& e) {
        EXPECT_EQ(e.Number(), EFBIG);
        EXPECT_EQ(e.Description(), "Can't write " + target.string() + ": File too large");
    }
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST(MaildirMessageTest, RecipientsAreToThenCcThenBccWithDecodedNames) {
    TempMaildir maildir;
    auto item = maildir.Load(maildir.Put("cur", "1.x:2,S",
                                         "From: Sender <sender@example.com>\n"
                                         "To: =?ISO-8859-1?Q?J=F6rg_K=F6hler?= <joerg@example.com>, plain@example.com\n"
                                         "Cc: Team: a@example.com, \"B, Bee\" <b@example.com>;\n"
                                         "Bcc: hidden@example.com\n"
                                         "Subject: x\n\nbody\n"));
    ASSERT_NE(item, nullptr);
    struct Expected {
        const char* address;
        const char* name;
    };
    const Expected expected[] = {{"joerg@example.com", "Jörg Köhler"},
                                 {"plain@example.com", ""},
                                 {"a@example.com", ""},
                                 {"b@example.com", "B, Bee"},
                                 {"hidden@example.com", ""}};
    auto recipients = item->Recipients();
    ASSERT_EQ(recipients->Count(), 5);
    for (int i = 0; i < 5; ++i) {
        auto recipient = recipients->Item(static_cast<std::int16_t>(i + 1));
        EXPECT_EQ(recipient->Address(), expected[i].address);
        EXPECT_EQ(recipient->Name(), expected[i].name);
        EXPECT_EQ(recipient->AddressEntry()->Address(), expected[i].address);
    }
}

TEST(MaildirMessageTest, ReplyGoesToReplyToElseToTheSender) {
    struct Case {
        const char* headers;
        const char* address;
    };
    const Case cases[] = {
        {"From: Gateway <message@inbound.efax.com>\nReply-To: Desk <desk@example.com>\n", "desk@example.com"},
        {"From: Gateway <message@inbound.efax.com>\n", "message@inbound.efax.com"},
    };
    TempMaildir maildir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.headers);
        auto item = maildir.Load(
            maildir.Put("cur", std::to_string(++n) + ".x:2,", std::string(c.headers) + "Subject: Fax\n\nbody\n"));
        ASSERT_NE(item, nullptr);
        auto reply = item->Reply();
        auto recipients = reply->Recipients();
        ASSERT_EQ(recipients->Count(), 1);
        EXPECT_EQ(recipients->Item(1)->Address(), c.address);
        EXPECT_EQ(reply->Subject(), "RE: Fax");
    }
}

TEST(MaildirMessageTest, ReceivedTimeIsTheTopmostReceivedDateElseTheFileTime) {
    constexpr std::time_t kReceived = 1796113800;  // 2026-12-01 08:30:00 UTC
    constexpr std::time_t kModified = 1700000000;
    struct Case {
        const char* name;
        const char* headers;
        std::time_t expected;
    };
    const Case cases[] = {
        {"folded Received, older one below",
         "Received: from mx.example.com (mx.example.com [192.0.2.1])\n"
         "\tby mail.example.com (Postfix) with ESMTP id 4F1;\n"
         "\tTue, 1 Dec 2026 09:30:00 +0100\n"
         "Received: from gateway by mx.example.com; Mon, 30 Nov 2026 08:00:00 +0000\n",
         kReceived},
        {"no Received", "", kModified},
        {"Received without a date", "Received: from somewhere by somewhere else\n", kModified},
    };
    TempMaildir maildir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = maildir.Put("cur", std::to_string(++n) + ".x:2,S", Message(c.headers, "body\n"));
        test::SetModified(file, kModified);
        auto item = maildir.Load(file);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->ReceivedTime(), LocalOf(c.expected));
    }
}

TEST(MaildirMessageTest, FilesThatAreNoMailGiveAnItemOfClassZero) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"PDF", std::string("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<< /Type /Catalog >>\nendobj\n")},
        {"binary", std::string("\x00\x01\x02\xFF\xFE", 5)},
        {"empty", ""},
        {"headers without any mail field", "X-Note: hello\nContent-Type: text/plain\n\nbody\n"},
    };
    TempMaildir maildir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto item = maildir.Session()->LoadItem(maildir.Put("cur", std::to_string(++n) + ".junk", c.bytes));
        EXPECT_EQ(item->Class(), 0);
        EXPECT_EQ(item->UnRead(), std::nullopt);
    }
    EXPECT_EQ(maildir.Session()->LoadItem(maildir.Root() / "cur" / "absent")->Class(), 0);
    EXPECT_EQ(maildir.Session()->LoadItem(maildir.Root() / "cur")->Class(), 0);

    auto mail = maildir.Session()->LoadItem(maildir.Put("cur", "mail", "Subject: only a subject\n\nbody\n"));
    EXPECT_EQ(mail->Class(), kOlMail);
}

}  // namespace
}  // namespace vexa
