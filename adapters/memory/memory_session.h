// The memory host: one running session of the mail host with its store, explorer windows and
// application objects, faithful enough that every core test runs against it, and with a fault
// plan that makes any host operation fail on demand.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "adapters/memory/memory_command_bars.h"
#include "adapters/memory/memory_faults.h"
#include "adapters/memory/memory_mail.h"
#include "adapters/memory/memory_store.h"
#include "host/application.h"
#include "host/explorer.h"

namespace vexa::memory {

class MemorySession;

class MemoryExplorer final : public Explorer, public std::enable_shared_from_this<MemoryExplorer> {
public:
    MemoryExplorer(std::shared_ptr<FaultPlan> faults, std::weak_ptr<MemorySession> session);

    Subscription Advise(ExplorerEvents& sink) override;
    CommandBarsPtr CommandBars() override;
    SelectionPtr Selection() override;

    // The user selects these items in the window.
    void Select(std::vector<ItemPtr> items) { selection_ = std::move(items); }
    // The user closes the window: Close is raised, then the temporary bars are discarded.
    void CloseWindow();
    bool Closed() const { return closed_; }
    const std::shared_ptr<MemoryCommandBars>& Bars() const { return bars_; }
    std::size_t CloseSubscribers() const { return close_.SubscriberCount(); }

private:
    std::shared_ptr<FaultPlan> faults_;
    std::weak_ptr<MemorySession> session_;
    std::shared_ptr<MemoryCommandBars> bars_;
    std::vector<ItemPtr> selection_;
    bool closed_ = false;
    EventSource<ExplorerEvents> close_;
};

class MemoryApplication final : public Application {
public:
    explicit MemoryApplication(std::shared_ptr<MemorySession> session);

    Subscription Advise(ApplicationEvents& sink) override;
    NameSpacePtr GetNamespace(const std::string& type) override;
    ExplorerPtr ActiveExplorer() override;
    NameSpacePtr Session() override;

private:
    std::shared_ptr<MemorySession> session_;
};

class MemorySession final : public std::enable_shared_from_this<MemorySession> {
public:
    static std::shared_ptr<MemorySession> Create();
    MemorySession();

    FaultPlan& Faults() { return *faults_; }
    const std::shared_ptr<FaultPlan>& SharedFaults() const { return faults_; }

    // A new application object of this session, as the host hands one to an add-in.
    std::shared_ptr<MemoryApplication> NewApplication();
    // Opens an explorer window, which becomes the active one.
    std::shared_ptr<MemoryExplorer> OpenExplorer();
    std::shared_ptr<MemoryExplorer> ActiveExplorer() const { return activeExplorer_; }

    std::shared_ptr<MemoryFolder> Inbox() const { return inbox_; }
    std::shared_ptr<MemoryFolder> DeletedItems() const { return deletedItems_; }
    NameSpacePtr NameSpaceObject() const { return nameSpace_; }

    // A new mail item outside any folder, as one being written.
    std::shared_ptr<MemoryMailItem> NewMail(MailSpec fields);
    // A mail item arriving in the Inbox (raises ItemAdd).
    std::shared_ptr<MemoryMailItem> Deliver(MailSpec fields);
    // An item of another class arriving in the Inbox.
    std::shared_ptr<MemoryOtherItem> DeliverOther(std::int32_t itemClass, std::optional<bool> unread);

    // The user sends `item`: ItemSend is raised to every subscriber of any application object of
    // the session. Returns true when the send went ahead; sent items are kept in Sent().
    bool Send(const ItemPtr& item);
    const std::vector<ItemPtr>& Sent() const { return sent_; }
    std::size_t ItemSendSubscribers() const { return itemSend_.SubscriberCount(); }

private:
    friend class MemoryApplication;
    friend class MemoryExplorer;
    std::shared_ptr<FaultPlan> faults_ = std::make_shared<FaultPlan>();
    std::shared_ptr<MemoryFolder> deletedItems_;
    std::shared_ptr<MemoryFolder> inbox_;
    std::shared_ptr<MemoryNameSpace> nameSpace_;
    std::shared_ptr<MemoryExplorer> activeExplorer_;
    std::vector<ItemPtr> sent_;
    EventSource<ApplicationEvents> itemSend_;
};

// Creates application objects by class; each reaches the session it was made for.
class MemoryApplicationFactory final : public ApplicationFactory {
public:
    explicit MemoryApplicationFactory(std::shared_ptr<MemorySession> session) : session_(std::move(session)) {}
    ApplicationPtr CreateApplication() override;
    int Created() const { return created_; }

private:
    std::shared_ptr<MemorySession> session_;
    int created_ = 0;
};

}  // namespace vexa::memory
