// The memory host behaves as the real host does where the add-in relies on it: folders and their
// ItemAdd, moves and deletes, attachments written to disk, replies, event subscriptions that end
// while an event is being raised, and faults on demand.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "adapters/memory/memory_platform.h"
#include "adapters/memory/memory_session.h"

namespace vexa::memory {
namespace {

class CountingItemsSink final : public ItemsEvents {
public:
    void ItemAdd(const ItemPtr& item) override { added.push_back(item); }
    std::vector<ItemPtr> added;
};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST(MemoryHost, MoveAndDeleteCarryTheItemBetweenFolders) {
    auto session = MemorySession::Create();
    CountingItemsSink inboxSink;
    WithEvents<Items> inboxItems(inboxSink);
    inboxItems = session->Inbox()->Items();

    auto mail = session->Deliver({.subject = "fax"});
    EXPECT_EQ(inboxSink.added.size(), 1u);

    auto folders = session->Inbox()->Folders();
    EXPECT_THROW(folders->Item("VX2 Messages"), HostError);
    auto store = folders->Add("VX2 Messages");
    EXPECT_EQ(folders->Item("vx2 messages"), store);  // names are matched without letter case
    EXPECT_THROW(folders->Add("VX2 Messages"), HostError);

    CountingItemsSink storeSink;
    WithEvents<Items> storeItems(storeSink);
    storeItems = store->Items();
    mail->Move(store);
    EXPECT_TRUE(session->Inbox()->Contents().empty());
    EXPECT_EQ(storeSink.added.size(), 1u);
    EXPECT_EQ(store->Items()->Count(), 1);

    mail->Delete();
    EXPECT_EQ(store->Items()->Count(), 0);
    EXPECT_EQ(session->DeletedItems()->Contents().size(), 1u);
    mail->Delete();  // deleting in Deleted Items removes it for good
    EXPECT_TRUE(session->DeletedItems()->Contents().empty());
}

TEST(MemoryHost, AttachmentsAreSavedAsRealFiles) {
    const auto folder = std::filesystem::temp_directory_path() / ("vexa-memory-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    auto session = MemorySession::Create();
    const std::string bytes("II*\0\x01\x02\xff", 7);
    auto mail = session->NewMail({.attachments = {{"fax.tif", bytes}, {"cover.txt", "x"}}});
    auto attachments = mail->Attachments();
    ASSERT_EQ(attachments->Count(), 2);
    EXPECT_EQ(attachments->Item(1)->FileName(), "fax.tif");
    EXPECT_THROW(attachments->Item(0), HostError);
    EXPECT_THROW(attachments->Item(3), HostError);

    attachments->Item(1)->SaveAsFile((folder / "R0000001.tif").string());
    EXPECT_EQ(ReadFile(folder / "R0000001.tif"), bytes);
    try {
        attachments->Item(1)->SaveAsFile((folder / "missing" / "R0000002.tif").string());
        ADD_FAILURE() << "saved into a missing folder";
    } catch (const HostError& e) {
        EXPECT_NE(e.Description().find("Path does not exist"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
    std::filesystem::remove_all(folder);
}

TEST(MemoryHost, ReplyIsAddressedToTheSenderUnlessToldOtherwise) {
    auto session = MemorySession::Create();
    auto plain = session->NewMail({.senderAddress = "ann@example.org", .senderName = "Ann"});
    auto reply = plain->Reply();
    ASSERT_EQ(reply->Recipients()->Count(), 1);
    EXPECT_EQ(reply->Recipients()->Item(1)->Address(), "ann@example.org");
    EXPECT_EQ(reply->Recipients()->Item(1)->Name(), "Ann");

    auto none = session->NewMail({.replyRecipients = std::vector<RecipientSpec>{}});
    EXPECT_EQ(none->Reply()->Recipients()->Count(), 0);
}

TEST(MemoryHost, SubscriberMayUnsubscribeOthersWhileAnEventIsRaised) {
    auto session = MemorySession::Create();
    CountingItemsSink second;
    WithEvents<Items> secondRef(second);
    struct Releasing final : ItemsEvents {
        WithEvents<Items>* other = nullptr;
        int calls = 0;
        void ItemAdd(const ItemPtr&) override {
            ++calls;
            *other = nullptr;
        }
    } first;
    first.other = &secondRef;
    WithEvents<Items> firstRef(first);
    firstRef = session->Inbox()->Items();
    secondRef = session->Inbox()->Items();

    session->Deliver({});
    EXPECT_EQ(first.calls, 1);
    EXPECT_TRUE(second.added.empty());
    EXPECT_EQ(session->Inbox()->ItemAddSubscribers(), 1u);
}

TEST(MemoryHost, ReassigningAReferenceMovesTheSubscription) {
    auto session = MemorySession::Create();
    CountingItemsSink sink;
    WithEvents<Items> items(sink);
    items = session->Inbox()->Items();
    items = session->DeletedItems()->Items();
    EXPECT_EQ(session->Inbox()->ItemAddSubscribers(), 0u);
    EXPECT_EQ(session->DeletedItems()->ItemAddSubscribers(), 1u);

    // A refused advise leaves the old binding in place.
    session->Faults().Fail(HostOp::AdviseItems, 1);
    EXPECT_THROW(items = session->Inbox()->Items(), HostError);
    EXPECT_EQ(session->DeletedItems()->ItemAddSubscribers(), 1u);
    items = nullptr;
    EXPECT_EQ(session->DeletedItems()->ItemAddSubscribers(), 0u);
    EXPECT_THROW(items->Count(), HostError);
}

TEST(MemoryHost, FaultsFireAsPlanned) {
    auto session = MemorySession::Create();
    auto mail = session->NewMail({.subject = "s"});
    FaultPlan& faults = session->Faults();
    faults.FailAfter(HostOp::MailSubject, 1, 2, HostError(7, "Out of memory"));
    EXPECT_EQ(mail->Subject(), "s");
    EXPECT_THROW(mail->Subject(), HostError);
    try {
        mail->Subject();
        ADD_FAILURE();
    } catch (const HostError& e) {
        EXPECT_EQ(e.Number(), 7);
    }
    EXPECT_EQ(mail->Subject(), "s");
    EXPECT_EQ(faults.Calls(HostOp::MailSubject), 4);
}

TEST(MemoryHost, SendRaisesItemSendOnEveryApplicationObjectOfTheSession) {
    auto session = MemorySession::Create();
    struct Canceller final : ApplicationEvents {
        void ItemSend(const ItemPtr&, bool& cancel) override { cancel = true; }
    } canceller;
    MemoryApplicationFactory factory(session);
    WithEvents<Application> app(canceller);
    app = factory.CreateApplication();
    auto mail = session->NewMail({});
    EXPECT_FALSE(session->Send(mail));
    EXPECT_TRUE(session->Sent().empty());
    app = nullptr;
    EXPECT_TRUE(session->Send(mail));
    EXPECT_EQ(session->Sent().size(), 1u);
}

TEST(MemoryHost, SafeMailItemReportsSenderAndRecipients) {
    auto session = MemorySession::Create();
    MemorySafeMailItemFactory factory;
    auto wrapper = factory.Create("CVMAPI.SafeMailItem");
    wrapper->SetItem(session->NewMail({.senderAddress = "message@inbound.efax.com",
                                       .recipients = {{"12125551234@efaxsend.com", "Fax"}, {"b@x", "B"}}}));
    EXPECT_EQ(wrapper->Sender()->Address(), "message@inbound.efax.com");
    EXPECT_EQ(wrapper->Recipients()->Count(), 2);
    EXPECT_EQ(wrapper->Recipients()->Item(1)->Address(), "12125551234@efaxsend.com");
    wrapper->SetItem(session->NewMail({}));
    EXPECT_EQ(wrapper->Sender(), nullptr);

    factory.SetRegistered(false);
    EXPECT_THROW(factory.Create("CVMAPI.SafeMailItem"), HostError);
}

}  // namespace
}  // namespace vexa::memory
