#include "adapters/maildir/maildir_store.h"

#include <cerrno>

#include "adapters/maildir/maildir_files.h"
#include "adapters/maildir/maildir_session.h"

namespace vexa::maildir {
namespace {

// Listed anew on every call, like the host's live collection: a loop that moves items out
// while it walks them sees the folder as it is now.
class MaildirItems final : public Items {
public:
    explicit MaildirItems(std::shared_ptr<MaildirFolder> folder) : folder_(std::move(folder)) {}

    Subscription Advise(ItemsEvents& sink) override { return folder_->Session()->ItemAddEvents(folder_->Path()).Advise(sink); }
    std::int32_t Count() override { return static_cast<std::int32_t>(ListMessages(folder_->Path()).size()); }
    ItemPtr Item(std::int16_t index) override {
        const auto files = ListMessages(folder_->Path());
        if (index < 1 || static_cast<std::size_t>(index) > files.size()) throw IndexOutOfBounds();
        return folder_->Session()->LoadItem(files[static_cast<std::size_t>(index - 1)]);
    }

private:
    std::shared_ptr<MaildirFolder> folder_;
};

class MaildirFolders final : public Folders {
public:
    MaildirFolders(std::shared_ptr<MaildirSession> session, bool ofInbox)
        : session_(std::move(session)), ofInbox_(ofInbox) {}

    std::int32_t Count() override { return ofInbox_ ? session_->CountSubfolders() : 0; }
    MAPIFolderPtr Item(const std::string& name) override {
        if (ofInbox_) {
            if (auto folder = session_->FindSubfolder(name)) return folder;
        }
        throw HostError(ENOENT, "The folder \"" + name + "\" does not exist.");
    }
    MAPIFolderPtr Add(const std::string& name) override {
        if (!ofInbox_) throw HostError(EPERM, "Cannot create the folder \"" + name + "\": folders are only created in the Inbox.");
        return session_->AddSubfolder(name);
    }

private:
    std::shared_ptr<MaildirSession> session_;
    bool ofInbox_;
};

}  // namespace


MaildirFolder::MaildirFolder(std::shared_ptr<MaildirSession> session, std::string name, std::filesystem::path path,
                             bool isInbox)
    : session_(std::move(session)), name_(std::move(name)), path_(std::move(path)), isInbox_(isInbox) {}

ItemsPtr MaildirFolder::Items() { return std::make_shared<MaildirItems>(shared_from_this()); }

FoldersPtr MaildirFolder::Folders() { return std::make_shared<MaildirFolders>(session_, isInbox_); }

void MaildirFolder::RaiseItemAdd(const ItemPtr& item) {
    session_->ItemAddEvents(path_).Raise([&item](ItemsEvents& sink) { sink.ItemAdd(item); });
}

MAPIFolderPtr MaildirNameSpace::GetDefaultFolder(std::int32_t folderType) {
    if (folderType == kOlFolderInbox) return session_->InboxFolder();
    if (folderType == kOlFolderDeletedItems) return session_->Trash();
    throw HostError(static_cast<std::int32_t>(0x80070057u), "The parameter is incorrect.");
}

}  // namespace vexa::maildir
