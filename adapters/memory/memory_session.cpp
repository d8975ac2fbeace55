#include "adapters/memory/memory_session.h"

namespace vexa::memory {
namespace {

class MemorySelection final : public Selection {
public:
    explicit MemorySelection(std::vector<ItemPtr> items) : items_(std::move(items)) {}
    std::int32_t Count() override { return static_cast<std::int32_t>(items_.size()); }
    ItemPtr Item(std::int16_t index) override {
        if (index < 1 || index > Count()) throw IndexOutOfBounds();
        return items_[static_cast<std::size_t>(index - 1)];
    }

private:
    std::vector<ItemPtr> items_;
};

}  // namespace

MemoryExplorer::MemoryExplorer(std::shared_ptr<FaultPlan> faults, std::weak_ptr<MemorySession> session)
    : faults_(faults), session_(std::move(session)), bars_(std::make_shared<MemoryCommandBars>(faults)) {}

Subscription MemoryExplorer::Advise(ExplorerEvents& sink) {
    faults_->Check(HostOp::AdviseExplorer);
    return close_.Advise(sink);
}

CommandBarsPtr MemoryExplorer::CommandBars() {
    faults_->Check(HostOp::ExplorerCommandBars);
    return bars_;
}

SelectionPtr MemoryExplorer::Selection() {
    faults_->Check(HostOp::ExplorerSelection);
    return std::make_shared<MemorySelection>(selection_);
}

void MemoryExplorer::CloseWindow() {
    // Subscribers may release their references to this window while it closes.
    auto self = shared_from_this();
    close_.Raise([](ExplorerEvents& sink) { sink.Close(); });
    bars_->DiscardTemporaryBars();
    closed_ = true;
    if (auto session = session_.lock(); session && session->activeExplorer_ == self) session->activeExplorer_.reset();
}

MemoryApplication::MemoryApplication(std::shared_ptr<MemorySession> session) : session_(std::move(session)) {}

Subscription MemoryApplication::Advise(ApplicationEvents& sink) {
    session_->faults_->Check(HostOp::AdviseApplication);
    return session_->itemSend_.Advise(sink);
}

NameSpacePtr MemoryApplication::GetNamespace(const std::string& type) {
    session_->faults_->Check(HostOp::GetNamespace);
    if (type != "MAPI") throw HostError(static_cast<std::int32_t>(0x80070057u), "The parameter is incorrect.");
    return session_->nameSpace_;
}

ExplorerPtr MemoryApplication::ActiveExplorer() { return session_->activeExplorer_; }

NameSpacePtr MemoryApplication::Session() {
    session_->faults_->Check(HostOp::Session);
    return session_->nameSpace_;
}

std::shared_ptr<MemorySession> MemorySession::Create() { return std::make_shared<MemorySession>(); }

MemorySession::MemorySession()
    : deletedItems_(std::make_shared<MemoryFolder>(faults_, "Deleted Items", std::weak_ptr<MemoryFolder>{})),
      inbox_(std::make_shared<MemoryFolder>(faults_, "Inbox", deletedItems_)),
      nameSpace_(std::make_shared<MemoryNameSpace>(faults_, inbox_, deletedItems_)) {}

std::shared_ptr<MemoryApplication> MemorySession::NewApplication() {
    return std::make_shared<MemoryApplication>(shared_from_this());
}

std::shared_ptr<MemoryExplorer> MemorySession::OpenExplorer() {
    activeExplorer_ = std::make_shared<MemoryExplorer>(faults_, weak_from_this());
    return activeExplorer_;
}

std::shared_ptr<MemoryMailItem> MemorySession::NewMail(MailSpec fields) {
    return std::make_shared<MemoryMailItem>(faults_, std::move(fields));
}

std::shared_ptr<MemoryMailItem> MemorySession::Deliver(MailSpec fields) {
    auto mail = NewMail(std::move(fields));
    inbox_->Receive(mail);
    return mail;
}

std::shared_ptr<MemoryOtherItem> MemorySession::DeliverOther(std::int32_t itemClass, std::optional<bool> unread) {
    auto item = std::make_shared<MemoryOtherItem>(faults_, itemClass, unread);
    inbox_->Receive(item);
    return item;
}

bool MemorySession::Send(const ItemPtr& item) {
    bool cancel = false;
    itemSend_.Raise([&](ApplicationEvents& sink) { sink.ItemSend(item, cancel); });
    if (!cancel) sent_.push_back(item);
    return !cancel;
}

ApplicationPtr MemoryApplicationFactory::CreateApplication() {
    session_->Faults().Check(HostOp::CreateApplication);
    ++created_;
    return session_->NewApplication();
}

}  // namespace vexa::memory
