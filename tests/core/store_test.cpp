// The store procedures and Inbox cleaning on a real archive: rows, files, subjects, folders and
// the messages the user sees, including the failures that must leave nothing half-done.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "settings/setting_names.h"
#include "tests/support/harness.h"
#include "tests/support/mail.h"

namespace vexa::testing {
namespace {

using memory::HostOp;
using Kind = Harness::Kind;

class Store : public ::testing::Test {
protected:
    Store() { h.Start(); }
    Connect& addin() { return *h.addin; }
    void AskForDescriptions(bool ask) { addin().Options().chDescription.Value = ask ? 1 : 0; }
    std::shared_ptr<memory::MemoryMailItem> Mail(memory::MailSpec fields) { return h.session->NewMail(std::move(fields)); }
    void Answer(std::string description) {
        h.dialogs.Then([description](DialogForm& form) {
            form.SetText("tDescription", description);
            form.PressEnter();
        });
    }
    void CancelPrompt() {
        h.dialogs.Then([](DialogForm& form) { form.PressEscape(); });
    }

    Harness h{Kind::OnDisk};
};

TEST_F(Store, IncomingFaxBecomesARowAndAFile) {
    EXPECT_EQ(addin().StoreInMessage(Mail(IncomingFax()), true), StoreOutcome::Stored);
    const auto rows = h.Rows("recv");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("Id"), "1");
    EXPECT_EQ(rows[0].at("Date"), "2026-12-08 09:05:03");
    EXPECT_EQ(rows[0].at("Number"), "NY4711-23");
    EXPECT_EQ(rows[0].at("Subject"), "eFax message from \"2125550000\" - 2 page(s)");
    EXPECT_EQ(rows[0].at("Description"), "(no description)");
    EXPECT_EQ(rows[0].at("FileName"), "fax.tif");
    EXPECT_EQ(rows[0].at("FileId"), "R0000001.tif");
    EXPECT_EQ(rows[0].at("New"), "1");
    EXPECT_EQ(h.AttachFiles(), std::vector<std::string>{"R0000001.tif"});
    EXPECT_EQ(h.AttachFile("R0000001.tif"), kTiff);
    EXPECT_EQ(h.Button(0)->FaceId(), 352);
    EXPECT_TRUE(h.Messages().empty());
}

TEST_F(Store, OnlyTheFirstAttachmentIsArchived) {
    auto fields = IncomingFax();
    fields.attachments = {{"page1.pdf", "%PDF-1"}, {"page2.tif", "II"}, {"note.txt", "x"}};
    addin().StoreInMessage(Mail(fields), true);
    EXPECT_EQ(h.Rows("recv").at(0).at("FileName"), "page1.pdf");
    EXPECT_EQ(h.AttachFiles(), std::vector<std::string>{"R0000001.pdf"});
}

TEST_F(Store, IncomingWithoutAttachmentStoresNothing) {
    auto fields = IncomingFax();
    fields.attachments.clear();
    EXPECT_EQ(addin().StoreInMessage(Mail(fields), true), StoreOutcome::Failed);
    EXPECT_EQ(h.Messages(), std::vector<std::string>{"Incoming message does not contain an attachment!"});
    EXPECT_TRUE(h.Rows("recv").empty());
}

TEST_F(Store, DescriptionIsAskedOnlyForFaxesArchivedByHand) {
    AskForDescriptions(true);
    addin().StoreInMessage(Mail(IncomingFax()), true);  // arrival: no prompt
    Answer("Invoice 7");
    addin().StoreInMessage(Mail(IncomingFax()), false);
    Answer("");
    addin().StoreInMessage(Mail(IncomingFax()), false);
    CancelPrompt();
    EXPECT_EQ(addin().StoreInMessage(Mail(IncomingFax()), false), StoreOutcome::Cancelled);

    const auto rows = h.Rows("recv");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].at("Description"), "(no description)");
    EXPECT_EQ(rows[1].at("Description"), "Invoice 7");
    EXPECT_EQ(rows[2].at("Description"), "(no description)");
    EXPECT_EQ(h.dialogs.Shown().size(), 3u);
    EXPECT_EQ(h.AttachFiles().size(), 3u);
}

TEST_F(Store, ArchivingByHandLeavesTheIndicatorAlone) {
    AskForDescriptions(false);
    addin().StoreInMessage(Mail(IncomingFax()), false);
    EXPECT_EQ(h.Button(0)->FaceId(), 351);
}

TEST_F(Store, LongTextsAreCutToTheirColumnsByCharacter) {
    std::string subject;
    for (int i = 0; i < 150; ++i) subject += "\xC3\xA9";  // é
    addin().StoreInMessage(Mail(IncomingFax(subject)), true);
    EXPECT_EQ(h.Rows("recv").at(0).at("Subject"), subject.substr(0, 200));
}

TEST_F(Store, SameMessageTwiceGivesTwoRowsAndTwoFiles) {
    const auto mail = Mail(IncomingFax());
    addin().StoreInMessage(mail, true);
    addin().StoreInMessage(mail, true);
    EXPECT_EQ(h.Rows("recv").size(), 2u);
    EXPECT_EQ(h.AttachFiles(), (std::vector<std::string>{"R0000001.tif", "R0000002.tif"}));
}

TEST_F(Store, AttachmentWithoutExtensionOrWithAHostileName) {
    const struct {
        const char* name;
        const char* fileId;
    } cases[] = {{"scan", "R0000001."}, {"x./../../evil", "R0000002."}, {"fax.t<i>f", "R0000003.tif"}};
    for (const auto& c : cases) {
        auto fields = IncomingFax();
        fields.attachments = {{c.name, "data"}};
        addin().StoreInMessage(Mail(fields), true);
    }
    const auto rows = h.Rows("recv");
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(rows.at(i).at("FileName"), cases[i].name);
        EXPECT_EQ(rows.at(i).at("FileId"), cases[i].fileId);
    }
    EXPECT_EQ(h.AttachFiles(), (std::vector<std::string>{"R0000001.", "R0000002.", "R0000003.tif"}));
    EXPECT_FALSE(std::filesystem::exists(h.Folder().parent_path() / "evil"));
}

TEST_F(Store, IndicatorIsSkippedWhenThereIsNoToolbar) {
    h.CloseExplorer();  // releases the buttons
    EXPECT_EQ(addin().StoreInMessage(Mail(IncomingFax()), true), StoreOutcome::Stored);
    EXPECT_EQ(h.Rows("recv").size(), 1u);
    EXPECT_TRUE(h.Messages().empty());
}

TEST_F(Store, FailedIncomingStoreLeavesNeitherRowNorFile) {
    const struct {
        const char* name;
        std::function<void(Harness&)> arrange;
        const char* message;
    } cases[] = {
        {"attachment not saved", [](Harness& x) { x.session->Faults().Fail(HostOp::AttachmentSaveAsFile, 1); },
         "Error in \"StoreInMessage\": The operation failed."},
        {"file not flushed", [](Harness& x) { x.files.FailFlush(true); },
         "Error in \"StoreInMessage\": No space left on device: "},
        {"Attach folder missing", [](Harness& x) { std::filesystem::remove_all(x.Folder() / "Attach"); },
         "Error in \"StoreInMessage\": Cannot save the attachment. Path does not exist. Verify the path is correct."},
        {"body unreadable", [](Harness& x) { x.session->Faults().Fail(HostOp::MailBody, 1); },
         "Error in \"StoreInMessage\": The operation failed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness x(Kind::OnDisk);
        x.Start();
        c.arrange(x);
        EXPECT_EQ(x.addin->StoreInMessage(x.session->NewMail(IncomingFax()), true), StoreOutcome::Failed);
        ASSERT_EQ(x.Messages().size(), 1u);
        EXPECT_TRUE(x.Messages()[0].starts_with(c.message)) << x.Messages()[0];
        EXPECT_TRUE(x.Rows("recv").empty());
        if (std::filesystem::exists(x.Folder() / "Attach")) {
            EXPECT_TRUE(x.AttachFiles().empty());
        }
        // The next fax is archived normally, under the number that was not used.
        x.files.FailFlush(false);
        std::filesystem::create_directories(x.Folder() / "Attach");
        EXPECT_EQ(x.addin->StoreInMessage(x.session->NewMail(IncomingFax()), true), StoreOutcome::Stored);
        EXPECT_EQ(x.AttachFiles(), std::vector<std::string>{x.Rows("recv").at(0).at("FileId")});
    }
}

TEST_F(Store, ExistingFileIsNeverOverwritten) {
    std::ofstream(h.Folder() / "Attach" / "R0000001.tif") << "older fax";
    EXPECT_EQ(addin().StoreInMessage(Mail(IncomingFax()), true), StoreOutcome::Failed);
    ASSERT_EQ(h.Messages().size(), 1u);
    EXPECT_NE(h.Messages()[0].find("R0000001.tif"), std::string::npos) << h.Messages()[0];
    EXPECT_EQ(h.AttachFile("R0000001.tif"), "older fax");
    EXPECT_TRUE(h.Rows("recv").empty());
}

// A crash between saving the file and committing its row leaves the file under its pending
// name; the number is handed out again, and the retry must not trip over what was left.
TEST_F(Store, APendingFileLeftByACrashDoesNotBlockTheRetry) {
    std::ofstream(h.Folder() / "Attach" / "R0000001.tif.partial") << "half a fax";
    EXPECT_EQ(addin().StoreInMessage(Mail(IncomingFax()), true), StoreOutcome::Stored);
    EXPECT_EQ(h.AttachFile("R0000001.tif"), kTiff);
    EXPECT_FALSE(std::filesystem::exists(h.Folder() / "Attach" / "R0000001.tif.partial"));
    EXPECT_TRUE(h.Messages().empty());
}

// A crash between the commit and the naming leaves a committed row whose file has its pending
// name: the fax counts as archived (it must not be archived twice), and the next start-up gives
// the file its name. Pending files without a committed row are removed then; other files stay.
TEST_F(Store, StartUpNamesTheFilesOfCommittedRowsAndRemovesTheRest) {
    h.files.FailRename(true);
    EXPECT_EQ(addin().StoreInMessage(Mail(IncomingFax()), true), StoreOutcome::Stored);
    ASSERT_EQ(h.Rows("recv").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(h.Folder() / "Attach" / "R0000001.tif"));
    AskForDescriptions(false);
    EXPECT_TRUE(addin().StoreOutMessage(Mail(OutgoingFax())));
    EXPECT_EQ(h.Messages().size(), 2u);

    const auto attach = h.Folder() / "Attach";
    std::ofstream(attach / "R0000009.tif.partial") << "never committed";
    std::ofstream(attach / "notes.txt.partial") << "the user's own";
    h.files.FailRename(false);
    h.Restart();

    EXPECT_EQ(h.AttachFile("R0000001.tif"), kTiff);
    EXPECT_EQ(h.AttachFile("S0000001.doc"), kDoc);
    EXPECT_FALSE(std::filesystem::exists(attach / "R0000001.tif.partial"));
    EXPECT_FALSE(std::filesystem::exists(attach / "R0000009.tif.partial"));
    EXPECT_TRUE(std::filesystem::exists(attach / "notes.txt.partial"));
}

TEST_F(Store, OutgoingFaxIsTaggedAndRecorded) {
    AskForDescriptions(false);
    const auto mail = Mail(OutgoingFax());
    EXPECT_TRUE(addin().StoreOutMessage(mail));
    EXPECT_EQ(mail->Contents().subject, "Quote for ACME {0000001}");
    const auto rows = h.Rows("send");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("Date"), "2026-12-08 10:00:00");
    EXPECT_EQ(rows[0].at("Number"), "12125551234");
    EXPECT_EQ(rows[0].at("Subject"), "Quote for ACME");
    EXPECT_EQ(rows[0].at("Description"), "(no description)");
    EXPECT_EQ(rows[0].at("FileName"), "quote.doc");
    EXPECT_EQ(rows[0].at("FileId"), "S0000001.doc");
    EXPECT_EQ(rows[0].at("Confirm"), "Unconfirmed");
    EXPECT_EQ(h.AttachFile("S0000001.doc"), kDoc);
    EXPECT_TRUE(h.dialogs.Shown().empty());
}

// The archive's text form of a date, as the rows read back.
std::string ArchiveText(const LocalDateTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

TEST_F(Store, FaxSentWithoutADateIsDatedWhenArchived) {
    AskForDescriptions(false);
    auto fields = OutgoingFax();
    fields.receivedTime = LocalDateTime::None();  // as Outlook reports a message still being sent
    const std::string before = ArchiveText(CurrentLocalTime());
    EXPECT_TRUE(h.Send(fields));
    const std::string after = ArchiveText(CurrentLocalTime());
    const auto rows = h.Rows("send");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_GE(rows[0].at("Date"), before);
    EXPECT_LE(rows[0].at("Date"), after);
    EXPECT_TRUE(h.Messages().empty());
}

TEST_F(Store, OutgoingSubjectsAndNumbers) {
    AskForDescriptions(false);
    const std::string longSubject(120, 's');
    const struct {
        std::string subject;
        const char* recipient;
        bool attachment;
        std::string taggedSubject;
        std::string rowSubject;
        const char* number;
        const char* fileId;
    } cases[] = {
        {"", kGateway, true, " {0000001}", "", "12125551234", "S0000001.doc"},
        {longSubject, kGateway, false, longSubject + " {0000002}", longSubject.substr(0, 100), "12125551234", ""},
        {"Quote {0000001}", kGateway, true, "Quote {0000001} {0000003}", "Quote {0000001}", "12125551234",
         "S0000003.doc"},
        {"a", "12125551234", true, "a {0000004}", "a", "(unknown)", "S0000004.doc"},
        {"b", "@efaxsend.com", true, "b {0000005}", "b", "(unknown)", "S0000005.doc"},
        {"c", "", true, "c {0000006}", "c", "(unknown)", "S0000006.doc"},
    };
    for (const auto& c : cases) {
        auto fields = OutgoingFax(c.subject);
        fields.recipients = {{c.recipient, "Fax"}};
        if (!c.attachment) fields.attachments.clear();
        const auto mail = Mail(fields);
        EXPECT_TRUE(addin().StoreOutMessage(mail));
        EXPECT_EQ(mail->Contents().subject, c.taggedSubject);
    }
    const auto rows = h.Rows("send");
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].at("Subject"), cases[i].rowSubject);
        EXPECT_EQ(rows[i].at("Number"), cases[i].number);
        EXPECT_EQ(rows[i].at("FileId"), cases[i].fileId);
        EXPECT_EQ(rows[i].at("FileName"), cases[i].attachment ? "quote.doc" : "");
    }
}

TEST_F(Store, CancelledPromptStoresNothingAndLeavesTheSubject) {
    AskForDescriptions(true);
    CancelPrompt();
    const auto mail = Mail(OutgoingFax());
    EXPECT_FALSE(addin().StoreOutMessage(mail));
    EXPECT_EQ(mail->Contents().subject, "Quote for ACME");
    EXPECT_TRUE(h.Rows("send").empty());
    EXPECT_TRUE(h.Messages().empty());
}

TEST_F(Store, FailedOutgoingStoreGivesTheSubjectBackAndAResendIsTaggedOnce) {
    AskForDescriptions(false);
    const auto mail = Mail(OutgoingFax());
    h.session->Faults().Fail(HostOp::AttachmentSaveAsFile, 1);
    EXPECT_FALSE(addin().StoreOutMessage(mail));
    EXPECT_EQ(h.Messages(), std::vector<std::string>{"Error in \"StoreOutMessage\": The operation failed."});
    EXPECT_EQ(mail->Contents().subject, "Quote for ACME");
    EXPECT_TRUE(h.Rows("send").empty());
    EXPECT_TRUE(h.AttachFiles().empty());

    EXPECT_TRUE(addin().StoreOutMessage(mail));
    // The refused attempt used up number 1.
    EXPECT_EQ(mail->Contents().subject, "Quote for ACME {0000002}");
    EXPECT_EQ(h.Rows("send").size(), 1u);
}

TEST_F(Store, RefusedSubjectChangeStoresNothing) {
    AskForDescriptions(false);
    h.session->Faults().Fail(HostOp::MailSetSubject, 1);
    EXPECT_FALSE(addin().StoreOutMessage(Mail(OutgoingFax())));
    EXPECT_TRUE(h.Rows("send").empty());
    EXPECT_TRUE(h.AttachFiles().empty());
}

class Confirm : public Store {
protected:
    Confirm() {
        AskForDescriptions(false);
        for (int i = 0; i < 3; ++i) addin().StoreOutMessage(Mail(OutgoingFax()));
    }
    std::vector<std::string> Outcomes() {
        std::vector<std::string> outcomes;
        for (const auto& row : h.Rows("send")) outcomes.push_back(row.at("Confirm"));
        return outcomes;
    }
};

TEST_F(Confirm, OutcomeIsRecordedOnTheTaggedRow) {
    const struct {
        const char* subject;
        const char* body;
        StoreOutcome outcome;
        std::vector<std::string> confirms;
    } cases[] = {
        {"Successful transmission to 12125551234", "Your fax Quote for ACME {0000002} was sent.",
         StoreOutcome::Stored, {"Unconfirmed", "Successful", "Unconfirmed"}},
        {"Unsuccessful Fax Transmission to 12125551234", "Quote for ACME {0000002}", StoreOutcome::Stored,
         {"Unconfirmed", "Unsuccessful", "Unconfirmed"}},
        {"Successful transmission to 1", "Quote {0000001} {0000003}", StoreOutcome::Stored,
         {"Unconfirmed", "Unsuccessful", "Successful"}},
        {"Successful transmission to 1", "no tag here", StoreOutcome::Unchanged,
         {"Unconfirmed", "Unsuccessful", "Successful"}},
        {"Successful transmission to 1", "{}", StoreOutcome::Unchanged, {"Unconfirmed", "Unsuccessful", "Successful"}},
        {"Successful transmission to 1", "{abc}", StoreOutcome::Unchanged,
         {"Unconfirmed", "Unsuccessful", "Successful"}},
        {"Successful transmission to 1", "{0000001} footer }", StoreOutcome::Unchanged,
         {"Unconfirmed", "Unsuccessful", "Successful"}},
        {"Successful transmission to 1", "{1 OR 1=1}", StoreOutcome::Unchanged,
         {"Unconfirmed", "Unsuccessful", "Successful"}},
        {"Successful transmission to 1", "{0000099}", StoreOutcome::Stored,
         {"Unconfirmed", "Unsuccessful", "Successful"}},
        {"Your fax", "{0000001}", StoreOutcome::Unchanged, {"Unconfirmed", "Unsuccessful", "Successful"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(addin().StoreConfirm(Mail(Confirmation(c.subject, c.body)), true), c.outcome);
        EXPECT_EQ(Outcomes(), c.confirms);
    }
    EXPECT_TRUE(h.Messages().empty());
}

TEST_F(Confirm, RowsBeyondSixteenBitsAreConfirmedToo) {
    // The archive's counter runs far beyond 32767; jump it there.
    ASSERT_EQ(addin().RunBulkOpQuery("UPDATE sqlite_sequence SET seq = 39999 WHERE name = 'send'"), 1);
    addin().StoreOutMessage(Mail(OutgoingFax()));
    addin().StoreConfirm(Mail(Confirmation("Successful transmission to 1", "Quote {0040000}")), false);
    EXPECT_EQ(h.Rows("send").back().at("Id"), "40000");
    EXPECT_EQ(h.Rows("send").back().at("Confirm"), "Successful");
}

TEST_F(Confirm, UnreadableBodyIsReported) {
    h.session->Faults().Fail(HostOp::MailBody, 1);
    EXPECT_EQ(addin().StoreConfirm(Mail(Confirmation("Successful transmission to 1", "{0000001}")), true),
              StoreOutcome::Failed);
    EXPECT_EQ(h.Messages(), std::vector<std::string>{"Error in \"StoreConfirm\": The operation failed."});
}

TEST_F(Confirm, ArchiveFailureIsReportedByTheStatementRunner) {
    h.Disconnect();
    EXPECT_EQ(addin().StoreConfirm(Mail(Confirmation("Successful transmission to 1", "{0000001}")), true),
              StoreOutcome::Failed);
    ASSERT_EQ(h.Messages().size(), 1u);
    EXPECT_TRUE(h.Messages()[0].starts_with("Error in \"RunBulkOpQuery\": ")) << h.Messages()[0];
}

class Clean : public ::testing::Test {
protected:
    Clean() { h.Start(); }
    std::shared_ptr<memory::MemoryMailItem> InInbox() {
        auto mail = h.session->NewMail({.subject = "done"});
        h.session->Inbox()->Receive(mail);
        return mail;
    }
    Harness h;
};

TEST_F(Clean, MovesIntoTheStoreFolderCreatedOnce) {
    const auto first = InInbox();
    const auto second = InInbox();
    h.addin->CleanInbox(first);
    h.addin->CleanInbox(second);
    const auto folder = h.session->Inbox()->Subfolder("VX2 Messages");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(h.session->Inbox()->Subfolders().size(), 1u);
    EXPECT_EQ(folder->Contents().size(), 2u);
    EXPECT_TRUE(h.session->Inbox()->Contents().empty());
    EXPECT_TRUE(h.Messages().empty());
}

TEST_F(Clean, DeletesWhenCopiesAreNotKept) {
    h.addin->Options().SelectDelete();
    const auto mail = InInbox();
    h.addin->CleanInbox(mail);
    EXPECT_TRUE(h.session->Inbox()->Contents().empty());
    EXPECT_EQ(h.session->DeletedItems()->Contents().size(), 1u);
    EXPECT_EQ(h.session->Inbox()->Subfolder("VX2 Messages"), nullptr);
}

TEST_F(Clean, EmptyFolderNameLeavesTheMessage) {
    h.addin->Options().tFolder.Text = "";
    const auto mail = InInbox();
    h.addin->CleanInbox(mail);
    EXPECT_EQ(h.session->Inbox()->Contents().size(), 1u);
    EXPECT_TRUE(*mail->UnRead());
    EXPECT_TRUE(h.Messages().empty());
}

TEST_F(Clean, FolderOfTheSameNameElsewhereIsNotUsed) {
    h.session->DeletedItems()->AddSubfolder("VX2 Messages");
    h.addin->CleanInbox(InInbox());
    ASSERT_NE(h.session->Inbox()->Subfolder("VX2 Messages"), nullptr);
    EXPECT_EQ(h.session->Inbox()->Subfolder("VX2 Messages")->Contents().size(), 1u);
}

TEST_F(Clean, RefusedMoveOrDeleteLeavesTheMessageRead) {
    const struct {
        HostOp refused;
        bool store;
    } cases[] = {{HostOp::MailMove, true}, {HostOp::FoldersAdd, true}, {HostOp::MailDelete, false}};
    for (const auto& c : cases) {
        Harness x;
        x.Start();
        if (!c.store) x.addin->Options().SelectDelete();
        x.session->Faults().Fail(c.refused, 1);
        auto mail = x.session->NewMail({.subject = "done"});
        x.session->Inbox()->Receive(mail);
        x.addin->CleanInbox(mail);
        EXPECT_EQ(x.Messages(), std::vector<std::string>{"Error in \"CleanInbox\": The operation failed."});
        EXPECT_EQ(x.session->Inbox()->Contents().size(), 1u);
        EXPECT_FALSE(*mail->UnRead());
    }
}

// A host that listens (the Linux command) hears from each store procedure what it did, whichever
// way it ended; its scan summary, its line per archived message and the reason a send was stopped
// are built on these reports. An event that stored nothing reports nothing.
class HeardStores final : public StoreListener {
public:
    void Stored(const StoreReport& report) noexcept override {
        static const char* const kinds[] = {"none", "incoming", "outgoing", "confirmation"};
        static const char* const outcomes[] = {"stored", "unchanged", "cancelled", "failed"};
        heard.push_back(std::string(kinds[static_cast<int>(report.kind)]) + " " +
                        outcomes[static_cast<int>(report.outcome)] + " row " + std::to_string(report.row) + " " +
                        report.detail + (report.outcomeUnknown ? " unknown" : report.transient ? " transient" : ""));
    }
    std::vector<std::string> heard;
};

class Reports : public ::testing::Test {
protected:
    Reports() {
        Platform platform = h.MakePlatform();
        platform.storeListener = &listener;
        h.addin = std::make_unique<Connect>(platform);
        h.Reconnect();
        h.addin->Options().chDescription.Value = 0;
    }
    HeardStores listener;  // outlives the add-in object in h
    Harness h{Kind::OnDisk};
};

TEST_F(Reports, EveryStoreTellsTheListenerWhatItDid) {
    const auto withoutAttachment = [] {
        auto fields = IncomingFax();
        fields.attachments.clear();
        return fields;
    };
    const memory::MailSpec ordinary{.subject = "Lunch", .body = "At noon?", .senderAddress = "bob@example.org",
                                    .recipients = {{"me@example.org", "Me"}}};
    const struct {
        const char* event;
        std::function<bool(Harness&)> raise;  // false: the send was cancelled
        bool goesAhead;
        std::vector<std::string> heard;
    } cases[] = {
        {"fax arrives", [](Harness& x) { return x.session->Deliver(IncomingFax()) != nullptr; }, true,
         {"incoming stored row 1 R0000001.tif"}},
        {"ordinary mail arrives", [&](Harness& x) { return x.session->Deliver(ordinary) != nullptr; }, true, {}},
        {"fax without its file arrives", [&](Harness& x) { return x.session->Deliver(withoutAttachment()) != nullptr; },
         true, {"incoming failed row 0 "}},
        {"fax sent", [](Harness& x) { return x.Send(OutgoingFax()); }, true, {"outgoing stored row 1 S0000001.doc"}},
        {"fax sent, prompt cancelled",
         [](Harness& x) {
             x.addin->Options().chDescription.Value = 1;
             x.dialogs.Then([](DialogForm& form) { form.PressEscape(); });
             const bool sent = x.Send(OutgoingFax());
             x.addin->Options().chDescription.Value = 0;
             return sent;
         },
         false, {"outgoing cancelled row 0 "}},
        {"fax sent, document not saved",
         [](Harness& x) {
             x.session->Faults().Fail(HostOp::AttachmentSaveAsFile, 1);
             return x.Send(OutgoingFax());
         },
         false, {"outgoing failed row 0 "}},
        {"ordinary mail sent", [&](Harness& x) { return x.Send(ordinary); }, true, {}},
        {"confirmation of row 1",
         [](Harness& x) {
             return x.session->Deliver(Confirmation("Successful transmission to 12125551234", "Quote {0000001}")) !=
                    nullptr;
         },
         true, {"confirmation stored row 1 Successful"}},
        {"confirmation of no fax of ours",
         [](Harness& x) {
             return x.session->Deliver(Confirmation("Unsuccessful Fax Transmission to 1", "{0000099}")) != nullptr;
         },
         true, {"confirmation stored row 0 "}},
        {"confirmation without a tag",
         [](Harness& x) { return x.session->Deliver(Confirmation("Successful transmission to 1", "no tag")) != nullptr; },
         true, {"confirmation unchanged row 0 "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.event);
        listener.heard.clear();
        EXPECT_EQ(c.raise(h), c.goesAhead);
        EXPECT_EQ(listener.heard, c.heard);
    }
    // The reports agree with the archive: one fax each way, the sent one confirmed.
    ASSERT_EQ(h.Rows("send").size(), 1u);
    EXPECT_EQ(h.Rows("send")[0].at("Confirm"), "Successful");
    EXPECT_EQ(h.AttachFiles(), (std::vector<std::string>{"R0000001.tif", "S0000001.doc"}));
}

// A failed commit tells the host whether the mail or the machine was at fault: a commit that
// failed for want of space is worth trying again later, and one whose outcome is unknown names
// the row and file it would have made, for the host to read back before archiving that mail again.
TEST(FailedCommits, TellTheHostWhatToDoWithTheMail) {
    const struct {
        const char* fault;
        HostError failure;
        std::string heard;
    } cases[] = {
        {"no space", HostError(28, "No space left on device", true), "incoming failed row 0  transient"},
        {"outcome unknown", HostError(1, "connection lost", false, true), "incoming failed row 1 R0000001.tif unknown"},
        {"refused", HostError(5, "constraint failed"), "incoming failed row 0 "},
    };
    // The memory host's stored files are real files named by a Windows path, relative to the
    // current folder: a folder of the test's own.
    const auto here = std::filesystem::current_path();
    const auto folder = std::filesystem::temp_directory_path() / ("vexa-failed-commits-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        HeardStores listener;
        Harness h;
        Platform platform = h.MakePlatform();
        platform.storeListener = &listener;
        h.addin = std::make_unique<Connect>(platform);
        h.Reconnect();
        h.archive.Faults().Fail(HostOp::ArchiveCommitTrans, 1, c.failure);
        h.session->Deliver(IncomingFax());
        EXPECT_EQ(listener.heard, std::vector<std::string>{c.heard});
        EXPECT_EQ(h.addin->StoredFilesCommitted({"R0000001.tif"}), std::vector<bool>{false}) << "rolled back";
    }
    std::filesystem::current_path(here);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace vexa::testing
