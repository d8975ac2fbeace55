// The memory host's mail store: folders with subfolders and items, and the namespace that hands
// out the default folders. Items arriving in a folder raise its ItemAdd.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "adapters/memory/memory_faults.h"
#include "host/application.h"
#include "host/folder.h"

namespace vexa::memory {

class MemoryFolder final : public MAPIFolder, public std::enable_shared_from_this<MemoryFolder> {
public:
    MemoryFolder(std::shared_ptr<FaultPlan> faults, std::string name, std::weak_ptr<MemoryFolder> deletedItems);

    std::string Name() override { return name_; }
    ItemsPtr Items() override;
    FoldersPtr Folders() override;

    // Puts an item into this folder, as delivery or a move does, and raises ItemAdd.
    void Receive(const ItemPtr& item);
    void Remove(const ItemPtr& item);
    const std::vector<ItemPtr>& Contents() const { return items_; }
    // The subfolder of that name (letter case ignored, as the host does), or null.
    std::shared_ptr<MemoryFolder> Subfolder(const std::string& name) const;
    std::shared_ptr<MemoryFolder> AddSubfolder(const std::string& name);
    const std::vector<std::shared_ptr<MemoryFolder>>& Subfolders() const { return subfolders_; }
    std::shared_ptr<MemoryFolder> DeletedItems() const { return deletedItems_.lock(); }
    std::size_t ItemAddSubscribers() const { return itemAdd_.SubscriberCount(); }

private:
    friend class MemoryItems;
    std::shared_ptr<FaultPlan> faults_;
    std::string name_;
    std::weak_ptr<MemoryFolder> deletedItems_;
    std::vector<ItemPtr> items_;
    std::vector<std::shared_ptr<MemoryFolder>> subfolders_;
    EventSource<ItemsEvents> itemAdd_;
};

class MemoryNameSpace final : public NameSpace {
public:
    MemoryNameSpace(std::shared_ptr<FaultPlan> faults, std::shared_ptr<MemoryFolder> inbox,
                    std::shared_ptr<MemoryFolder> deletedItems)
        : faults_(std::move(faults)), inbox_(std::move(inbox)), deletedItems_(std::move(deletedItems)) {}
    MAPIFolderPtr GetDefaultFolder(std::int32_t folderType) override;

private:
    std::shared_ptr<FaultPlan> faults_;
    std::shared_ptr<MemoryFolder> inbox_;
    std::shared_ptr<MemoryFolder> deletedItems_;
};

}  // namespace vexa::memory
