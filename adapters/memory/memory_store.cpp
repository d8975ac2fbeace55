#include "adapters/memory/memory_store.h"

#include <algorithm>

#include "adapters/memory/memory_mail.h"
#include "host/ascii_text.h"

namespace vexa::memory {

class MemoryItems final : public Items {
public:
    MemoryItems(std::shared_ptr<FaultPlan> faults, std::shared_ptr<MemoryFolder> folder)
        : faults_(std::move(faults)), folder_(std::move(folder)) {}

    Subscription Advise(ItemsEvents& sink) override {
        faults_->Check(HostOp::AdviseItems);
        return folder_->itemAdd_.Advise(sink);
    }
    std::int32_t Count() override { return static_cast<std::int32_t>(folder_->items_.size()); }
    ItemPtr Item(std::int16_t index) override {
        if (index < 1 || index > Count()) throw IndexOutOfBounds();
        return folder_->items_[static_cast<std::size_t>(index - 1)];
    }

private:
    std::shared_ptr<FaultPlan> faults_;
    std::shared_ptr<MemoryFolder> folder_;
};

namespace {

class MemoryFolders final : public Folders {
public:
    MemoryFolders(std::shared_ptr<FaultPlan> faults, std::shared_ptr<MemoryFolder> folder)
        : faults_(std::move(faults)), folder_(std::move(folder)) {}

    std::int32_t Count() override;
    MAPIFolderPtr Item(const std::string& name) override {
        faults_->Check(HostOp::FoldersItem);
        if (auto found = folder_->Subfolder(name)) return found;
        throw HostError(static_cast<std::int32_t>(0x8004010Fu),
                        "The attempted operation failed.  An object could not be found.");
    }
    MAPIFolderPtr Add(const std::string& name) override {
        faults_->Check(HostOp::FoldersAdd);
        if (name.empty() || folder_->Subfolder(name)) {
            throw HostError(static_cast<std::int32_t>(0x80040604u), "Cannot create the folder.");
        }
        return folder_->AddSubfolder(name);
    }

private:
    std::shared_ptr<FaultPlan> faults_;
    std::shared_ptr<MemoryFolder> folder_;
};

}  // namespace

MemoryFolder::MemoryFolder(std::shared_ptr<FaultPlan> faults, std::string name, std::weak_ptr<MemoryFolder> deletedItems)
    : faults_(std::move(faults)), name_(std::move(name)), deletedItems_(std::move(deletedItems)) {}

ItemsPtr MemoryFolder::Items() {
    faults_->Check(HostOp::FolderItems);
    return std::make_shared<MemoryItems>(faults_, shared_from_this());
}

FoldersPtr MemoryFolder::Folders() { return std::make_shared<MemoryFolders>(faults_, shared_from_this()); }

std::int32_t MemoryFolders::Count() { return static_cast<std::int32_t>(folder_->Subfolders().size()); }

void MemoryFolder::Receive(const ItemPtr& item) {
    items_.push_back(item);
    if (auto mail = std::dynamic_pointer_cast<MemoryMailItem>(item)) mail->SetParent(shared_from_this());
    itemAdd_.Raise([&](ItemsEvents& sink) { sink.ItemAdd(item); });
}

void MemoryFolder::Remove(const ItemPtr& item) { std::erase(items_, item); }

std::shared_ptr<MemoryFolder> MemoryFolder::Subfolder(const std::string& name) const {
    for (const auto& folder : subfolders_) {
        if (EqualsIgnoringAsciiCase(folder->name_, name)) return folder;
    }
    return nullptr;
}

std::shared_ptr<MemoryFolder> MemoryFolder::AddSubfolder(const std::string& name) {
    auto folder = std::make_shared<MemoryFolder>(faults_, name, deletedItems_);
    subfolders_.push_back(folder);
    return folder;
}

MAPIFolderPtr MemoryNameSpace::GetDefaultFolder(std::int32_t folderType) {
    faults_->Check(HostOp::GetDefaultFolder);
    if (folderType == kOlFolderInbox) return inbox_;
    if (folderType == kOlFolderDeletedItems) return deletedItems_;
    throw HostError(static_cast<std::int32_t>(0x80070057u), "The parameter is incorrect.");
}

}  // namespace vexa::memory
