// The folders of a Maildir++ store as the host's folders: the Inbox is the Maildir itself, its
// subfolders are ".Name" Maildirs beside cur/new/tmp, and the namespace hands out the Inbox and
// ".Trash". The session creates them; mail items move their files between them.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "host/application.h"
#include "host/folder.h"
#include "host/item_list.h"

namespace vexa::maildir {

class MaildirSession;

class MaildirFolder final : public MAPIFolder, public std::enable_shared_from_this<MaildirFolder> {
public:
    // `name` is "Inbox" for the Maildir itself and the folder name for a ".Name" subfolder.
    MaildirFolder(std::shared_ptr<MaildirSession> session, std::string name, std::filesystem::path path, bool isInbox);

    std::string Name() override { return name_; }
    ItemsPtr Items() override;
    // The Inbox's subfolders. Subfolders have none of their own: a "." inside a Maildir++ name
    // already means nesting to other mail readers, and folder names here are taken literally.
    FoldersPtr Folders() override;

    const std::filesystem::path& Path() const noexcept { return path_; }
    const std::shared_ptr<MaildirSession>& Session() const noexcept { return session_; }
    // Tells the subscribers of this folder's items that `item` arrived.
    void RaiseItemAdd(const ItemPtr& item);

private:
    std::shared_ptr<MaildirSession> session_;
    std::string name_;
    std::filesystem::path path_;
    bool isInbox_;
};

class MaildirNameSpace final : public NameSpace {
public:
    explicit MaildirNameSpace(std::shared_ptr<MaildirSession> session) : session_(std::move(session)) {}
    // 6 is the Inbox, 3 is ".Trash" (created when missing).
    MAPIFolderPtr GetDefaultFolder(std::int32_t folderType) override;

private:
    std::shared_ptr<MaildirSession> session_;
};


}  // namespace vexa::maildir
