// The send hook, the Inbox arrival and the toolbar commands, as the host raises them.

#include <gtest/gtest.h>

#include "tests/support/harness.h"
#include "tests/support/mail.h"

namespace vexa::testing {
namespace {

using memory::HostOp;
using Kind = Harness::Kind;

constexpr std::int32_t kOlAppointment = 26;
const std::vector<std::string> kNothing;

class Handlers : public ::testing::Test {
protected:
    Handlers() {
        h.Start();
        h.addin->Options().chDescription.Value = 0;
    }
    Harness h{Kind::OnDisk};
};

TEST_F(Handlers, SendHookRecordsFaxesAndStopsTheOnesItCannot) {
    const struct {
        const char* name;
        std::function<void(Harness&)> arrange;
        std::function<memory::MailSpec()> mail;
        bool sent;
        std::size_t rows;
        std::vector<std::string> messages;
    } cases[] = {
        {"fax, no prompt", nullptr, [] { return OutgoingFax(); }, true, 1, kNothing},
        {"fax, prompt confirmed",
         [](Harness& x) {
             x.addin->Options().chDescription.Value = 1;
             x.dialogs.Then([](DialogForm& f) { f.PressEnter(); });
         },
         [] { return OutgoingFax(); }, true, 1, kNothing},
        {"fax, prompt cancelled",
         [](Harness& x) {
             x.addin->Options().chDescription.Value = 1;
             x.dialogs.Then([](DialogForm& f) { f.PressEscape(); });
         },
         [] { return OutgoingFax(); }, false, 0, kNothing},
        {"fax not recorded", [](Harness& x) { x.session->Faults().Fail(HostOp::AttachmentSaveAsFile, 1); },
         [] { return OutgoingFax(); }, false, 0, {"Error in \"StoreOutMessage\": The operation failed."}},
        {"gateway second", nullptr,
         [] {
             auto fields = OutgoingFax();
             fields.recipients.insert(fields.recipients.begin(), {"ann@example.org", "Ann"});
             return fields;
         },
         true, 0, kNothing},
        {"ordinary mail", nullptr, [] { return memory::MailSpec{.recipients = {{"ann@example.org", "Ann"}}}; }, true,
         0, kNothing},
        {"class unreadable", [](Harness& x) { x.session->Faults().Fail(HostOp::ItemClass, 1); },
         [] { return OutgoingFax(); }, true, 0, {"Error in \"ItemSend\": The operation failed."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness x(Kind::OnDisk);
        x.Start();
        x.addin->Options().chDescription.Value = 0;
        if (c.arrange) c.arrange(x);
        const auto mail = x.session->NewMail(c.mail());
        EXPECT_EQ(x.session->Send(mail), c.sent);
        EXPECT_EQ(x.Rows("send").size(), c.rows);
        EXPECT_EQ(x.Messages(), c.messages);
        // What goes out carries the tag exactly when it was recorded.
        EXPECT_EQ(mail->Contents().subject.ends_with("{0000001}"), c.rows == 1);
    }
}

TEST_F(Handlers, SendHookPassesOtherItemsAndRefusesWhileUninitialised) {
    EXPECT_TRUE(h.session->Send(std::make_shared<memory::MemoryOtherItem>(h.session->SharedFaults(), kOlAppointment,
                                                                         std::nullopt)));
    EXPECT_TRUE(h.Messages().empty());
    h.Disconnect();
    EXPECT_TRUE(h.Send(OutgoingFax()));
    EXPECT_EQ(h.Messages(), std::vector<std::string>{"Application is not initialized!"});
    EXPECT_TRUE(h.Rows("send").empty());
}

TEST_F(Handlers, ArrivalArchivesAndCleansOnlyUnreadServiceMail) {
    auto readFax = IncomingFax();
    readFax.unread = false;
    h.session->Deliver(readFax);
    h.session->DeliverOther(kOlAppointment, true);
    h.session->DeliverOther(kOlAppointment, std::nullopt);
    h.session->Deliver(OutgoingFax());  // a gateway recipient is no arrival of ours
    h.session->Deliver({.subject = "hello", .senderAddress = "ann@example.org"});
    EXPECT_TRUE(h.Rows("recv").empty());
    EXPECT_EQ(h.session->Inbox()->Contents().size(), 5u);
    EXPECT_TRUE(h.Messages().empty());

    h.session->Deliver(IncomingFax());
    EXPECT_EQ(h.Rows("recv").size(), 1u);
    EXPECT_EQ(h.session->Inbox()->Contents().size(), 5u);
    EXPECT_EQ(h.session->Inbox()->Subfolder("VX2 Messages")->Contents().size(), 1u);
}

TEST_F(Handlers, ArrivalThatCouldNotBeArchivedStaysUnreadInTheInbox) {
    auto noAttachment = IncomingFax();
    noAttachment.attachments.clear();
    const auto first = h.session->Deliver(noAttachment);
    h.session->Faults().Fail(HostOp::AttachmentSaveAsFile, 1);
    const auto second = h.session->Deliver(IncomingFax());
    EXPECT_EQ(h.Messages(), (std::vector<std::string>{"Incoming message does not contain an attachment!",
                                                      "Error in \"StoreInMessage\": The operation failed."}));
    EXPECT_EQ(h.session->Inbox()->Contents().size(), 2u);
    EXPECT_TRUE(*first->UnRead());
    EXPECT_TRUE(*second->UnRead());
    EXPECT_TRUE(h.Rows("recv").empty());
}

TEST_F(Handlers, ConfirmationsThatChangeNothingAreStillCleaned) {
    h.session->Deliver(Confirmation("Your fax", "{0000001}"));
    h.session->Deliver(Confirmation("Successful transmission to 1", "no tag"));
    EXPECT_TRUE(h.session->Inbox()->Contents().empty());
    EXPECT_EQ(h.session->Inbox()->Subfolder("VX2 Messages")->Contents().size(), 2u);
    EXPECT_TRUE(h.Messages().empty());
}

TEST_F(Handlers, ArrivalWhileUninitialisedIsRefused) {
    h.Disconnect();
    h.session->Deliver(IncomingFax());
    EXPECT_EQ(h.Messages(), std::vector<std::string>{"Application is not initialized!"});
    EXPECT_TRUE(h.Rows("recv").empty());
    EXPECT_EQ(h.session->Inbox()->Contents().size(), 1u);
}

TEST_F(Handlers, ConvertArchivesTheOneSelectedMessageByHand) {
    auto readFax = IncomingFax();
    readFax.unread = false;
    const auto incoming = h.session->Deliver(readFax);
    const auto outgoing = h.session->NewMail(OutgoingFax());
    const auto confirmation = h.session->NewMail(Confirmation("Successful transmission to 1", "{0000001}"));
    const auto other = h.session->NewMail({.senderAddress = "ann@example.org"});
    const auto appointment = std::make_shared<memory::MemoryOtherItem>(h.session->SharedFaults(), kOlAppointment, true);

    const struct {
        const char* name;
        std::vector<ItemPtr> selection;
        std::vector<std::string> messages;
    } cases[] = {
        {"nothing", {}, {"No message selected!"}},
        {"two", {incoming, outgoing}, {"Selected more than one message!"}},
        {"appointment", {appointment}, {"Message is not correct type!"}},
        {"unrelated mail", {other}, {"Message is not correct type!"}},
        {"read incoming fax", {incoming}, kNothing},
        {"outgoing fax", {outgoing}, kNothing},
        {"confirmation", {confirmation}, kNothing},
        {"incoming fax again", {incoming}, kNothing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        h.messages.Clear();
        h.explorer->Select(c.selection);
        h.Button(1)->Click();
        EXPECT_EQ(h.Messages(), c.messages);
    }
    EXPECT_EQ(h.Rows("recv").size(), 2u);
    ASSERT_EQ(h.Rows("send").size(), 1u);
    EXPECT_EQ(h.Rows("send")[0].at("Confirm"), "Successful");
    // Archived by hand, the incoming fax stays where it was.
    EXPECT_EQ(h.session->Inbox()->Contents().size(), 1u);
    EXPECT_EQ(h.Button(0)->FaceId(), 351);

    h.messages.Clear();
    h.session->Faults().Fail(HostOp::ExplorerSelection, 1);
    h.Button(1)->Click();
    EXPECT_EQ(h.Messages(), std::vector<std::string>{"No message selected!"});
}

TEST_F(Handlers, OptionsCommandShowsTheOneDialog) {
    h.dialogs.Then([](DialogForm& f) {
        f.SetText("tFolder", "Faxes");
        f.Click("OKButton");
    });
    h.dialogs.Then([](DialogForm& f) {
        EXPECT_EQ(f.Text("tFolder"), "Faxes");
        f.Click("CancelButton");
    });
    h.Button(2)->Click();
    h.Button(2)->Click();
    EXPECT_EQ(h.dialogs.Shown(), (std::vector<std::string>{"Vexa - Message Manager options",
                                                           "Vexa - Message Manager options"}));
    EXPECT_TRUE(h.Messages().empty());
}

TEST_F(Handlers, OptionsCommandReportsSettingsThatDoNotLoad) {
    Harness x;
    x.settings.SaveSetting("", "Options", "AskDescription", "often");
    x.Start();
    x.Button(2)->Click();
    EXPECT_EQ(x.Messages(), std::vector<std::string>{"Error in \"BtnOptions_Click\": Type mismatch"});
    EXPECT_TRUE(x.dialogs.Shown().empty());
}

TEST_F(Handlers, IndicatorResetsTheFaceAndOpensTheArchive) {
    h.session->Deliver(IncomingFax());
    EXPECT_EQ(h.Button(0)->FaceId(), 352);
    h.Button(0)->Click();
    EXPECT_EQ(h.Button(0)->FaceId(), 351);
    EXPECT_EQ(h.shell.Opened(), std::vector<std::string>{(h.Folder() / "Corvane.mdb").string()});
    EXPECT_TRUE(h.Messages().empty());

    h.session->Deliver(IncomingFax());
    h.shell.SetResult(kShellNoAssociation);
    h.Button(0)->Click();
    EXPECT_EQ(h.Button(0)->FaceId(), 351);
    EXPECT_EQ(h.Messages(), std::vector<std::string>{"Can't open viewer!"});
}

TEST_F(Handlers, IndicatorFaceRefusedStopsBeforeOpening) {
    h.session->Faults().Fail(HostOp::ButtonSetProperty, 1);
    h.Button(0)->Click();
    EXPECT_EQ(h.Messages(), std::vector<std::string>{"Error in \"BtnIndicator_Click\": The operation failed."});
    EXPECT_TRUE(h.shell.Opened().empty());
}

TEST_F(Handlers, IndicatorWithoutAToolbarOnlyOpensTheViewer) {
    h.CloseExplorer();
    bool cancelDefault = false;
    h.addin->oCBtnIndicator_Click(nullptr, cancelDefault);
    EXPECT_EQ(h.shell.Opened().size(), 1u);
    EXPECT_TRUE(h.Messages().empty());
}

TEST_F(Handlers, HelpStartsTheHelpProgram) {
    h.Button(3)->Click();
    EXPECT_EQ(h.shell.Opened(), std::vector<std::string>{(h.Folder() / "VXHELP.exe").string()});
    h.shell.SetResult(kShellFileNotFound);
    h.Button(3)->Click();
    EXPECT_EQ(h.Messages(), std::vector<std::string>{"Can't open help!"});
}

}  // namespace
}  // namespace vexa::testing
