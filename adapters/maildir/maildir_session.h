// The Maildir host: one running session of the mail host over a Maildir on disk, with its
// application objects, mail-item wrapper and events. The command-line program opens one per run
// and raises ItemAdd and ItemSend; its folders and items reach back to it for events and ".Trash".
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "adapters/maildir/maildir_mail.h"
#include "adapters/maildir/maildir_store.h"
#include "host/application.h"
#include "recognition/safe_mail_item.h"

namespace vexa::maildir {

class MaildirSession final : public std::enable_shared_from_this<MaildirSession> {
    struct Token {};

public:
    // Fails when `inbox` lacks cur, new or tmp.
    static std::shared_ptr<MaildirSession> Open(const std::filesystem::path& inbox);
    MaildirSession(Token, std::filesystem::path inbox);
    MaildirSession(const MaildirSession&) = delete;
    MaildirSession& operator=(const MaildirSession&) = delete;

    // An application object of this session. There is no explorer window: a process has none.
    std::shared_ptr<Application> NewApplication();
    // Creates application objects that reach this same session.
    ApplicationFactory& Factory();
    SafeMailItemFactory& SafeMailItems();

    // The message files now in the Inbox's new/ and cur/, oldest first by modification time,
    // then by name.
    std::vector<std::filesystem::path> InboxMessages();
    // Raises the Inbox items' ItemAdd with the item for `file`.
    void RaiseItemAdd(const std::filesystem::path& file);
    // The mail item for a file anywhere; a file that is not a mail message, or that cannot be
    // read, gives an item of class 0 instead.
    ItemPtr LoadItem(const std::filesystem::path& file);
    // A mail item for a message that is in no folder (read from standard input): Move and
    // Delete fail, and without a Received: field its received time is now.
    std::shared_ptr<MaildirMailItem> ParseMessage(std::string bytes);
    // Raises ItemSend; true when the send goes ahead (no subscriber set Cancel).
    bool RaiseItemSend(const ItemPtr& item);

    std::shared_ptr<MAPIFolder> Inbox();

    // For the folder and item objects of this session.
    std::shared_ptr<MaildirFolder> InboxFolder();
    // ".Trash", created when missing.
    std::shared_ptr<MaildirFolder> Trash();
    // The subfolder ".name" when it exists as a Maildir, else null.
    std::shared_ptr<MaildirFolder> FindSubfolder(const std::string& name);
    std::shared_ptr<MaildirFolder> AddSubfolder(const std::string& name);
    int CountSubfolders();
    NameSpacePtr NameSpaceObject();
    // ItemAdd subscribers of the folder at `path`, shared by every object of that folder.
    EventSource<ItemsEvents>& ItemAddEvents(const std::filesystem::path& path);
    EventSource<ApplicationEvents>& ItemSendEvents() noexcept { return itemSend_; }

private:
    class Applications;
    class SafeItems;

    std::filesystem::path inbox_;
    EventSource<ApplicationEvents> itemSend_;
    std::map<std::filesystem::path, std::unique_ptr<EventSource<ItemsEvents>>> itemAdd_;
    std::unique_ptr<ApplicationFactory> factory_;
    std::unique_ptr<SafeMailItemFactory> safeItems_;
};

}  // namespace vexa::maildir
