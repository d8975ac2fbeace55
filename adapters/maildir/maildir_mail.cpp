#include "adapters/maildir/maildir_mail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <system_error>

#include "adapters/maildir/maildir_files.h"
#include "adapters/maildir/maildir_session.h"
#include "adapters/maildir/maildir_store.h"
#include "adapters/maildir/mime_message.h"
#include "adapters/maildir/mime_text.h"
#include "adapters/maildir/staged_content.h"
#include "adapters/maildir/subject_header.h"
#include "host/item_list.h"

namespace vexa::maildir {
namespace fs = std::filesystem;
namespace {

HostError PathNotFound() {
    return HostError(static_cast<std::int32_t>(0x80070003u),
                     "Cannot save the attachment. Path does not exist. Verify the path is correct.");
}

HostError NotInFolder() {
    return HostError(EINVAL, "The message is in no folder, so it cannot be moved or deleted.");
}

LocalDateTime ToLocal(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

bool SameFolder(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

class MaildirAttachment final : public Attachment {
public:
    MaildirAttachment(std::shared_ptr<MimeMessage> message, GMimePart* part, std::shared_ptr<StagedContent> staged)
        : message_(std::move(message)), part_(Retain{}, part), staged_(std::move(staged)) {}

    std::string FileName() override {
        return AttachmentNameText(PartFileName(part_.Get()));
    }

    void SaveAsFile(const std::string& path) override {
        const fs::path target(path);
        std::error_code ec;
        if (!fs::is_directory(target.has_parent_path() ? target.parent_path() : fs::path("."), ec)) throw PathNotFound();
        // Decoded ahead into a nameless file: naming it is the save.
        if (staged_ && NameStagedContent(*staged_, target)) return;
        // Like the host, an existing file of that name is overwritten.
        UniqueFd fd(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (!fd) {
            const int err = errno;
            if (err == ENOENT) throw PathNotFound();
            throw ErrnoError("Can't write " + path, err);
        }
        int err = 0;
        try {
            // The content streams from the message file through the transfer decoder, so an
            // attachment of any size passes through a small buffer.
            err = message_->WriteContent(part_.Get(), fd.Get(), FileName());
        } catch (...) {
            // Half a file, or a damaged one, would pass for the attachment in the archive.
            fd.Close();
            ::unlink(target.c_str());
            throw;
        }
        const int closeErr = fd.Close();
        if (err == 0) err = closeErr;
        if (err != 0) {
            ::unlink(target.c_str());
            throw ErrnoError("Can't write " + path, err);
        }
    }

private:
    // Holds the file open that the part's content is read from.
    std::shared_ptr<MimeMessage> message_;
    GObjectRef<GMimePart> part_;
    std::shared_ptr<StagedContent> staged_;
};

class MaildirAddressEntry final : public AddressEntry {
public:
    explicit MaildirAddressEntry(std::string address) : address_(std::move(address)) {}
    std::string Address() override { return address_; }

private:
    std::string address_;
};

class MaildirRecipient final : public Recipient {
public:
    explicit MaildirRecipient(MailAddress address) : address_(std::move(address)) {}
    std::string Address() override { return address_.address; }
    AddressEntryPtr AddressEntry() override { return std::make_shared<MaildirAddressEntry>(address_.address); }
    std::string Name() override { return address_.name; }

private:
    MailAddress address_;
};

RecipientsPtr MakeRecipients(const std::vector<MailAddress>& addresses) {
    std::vector<RecipientPtr> items;
    for (const auto& address : addresses) items.push_back(std::make_shared<MaildirRecipient>(address));
    return std::make_shared<ItemList<Recipients, RecipientPtr>>(std::move(items));
}

}  // namespace

MaildirMailItem::MaildirMailItem(std::shared_ptr<MaildirSession> session, std::shared_ptr<MimeMessage> message,
                                 std::optional<fs::path> file, std::time_t arrival)
    : session_(std::move(session)),
      message_(std::move(message)),
      file_(std::move(file)),
      arrival_(arrival),
      originalSubject_(message_->Subject()),
      subject_(originalSubject_) {}

MaildirMailItem::~MaildirMailItem() {
    if (session_) session_->Retire(std::move(message_));
}

std::int32_t MaildirMailItem::Class() { return kOlMail; }

std::optional<fs::path> MaildirMailItem::Folder() const {
    if (!file_) return std::nullopt;
    const fs::path dir = file_->parent_path();
    const auto place = dir.filename();
    if (place != "new" && place != "cur") return std::nullopt;
    if (!IsMaildir(dir.parent_path())) return std::nullopt;
    return dir.parent_path();
}

std::optional<bool> MaildirMailItem::UnRead() {
    if (!Folder()) return unread_;
    return SplitMessageName(file_->filename().string()).flags.find('S') == std::string::npos;
}

void MaildirMailItem::SetUnRead(bool unread) {
    if (!Folder()) {
        unread_ = unread;
        return;
    }
    ChangeFile([&] {
        const auto folder = Folder();
        const MessageName name = SplitMessageName(file_->filename().string());
        std::string place = file_->parent_path().filename().string();
        // Mail readers move a message out of new/ once it has been seen.
        if (place == "new" && !unread) place = "cur";
        MessageName renamed = name;
        renamed.flags = WithFlag(name.flags, 'S', !unread);
        renamed.hasInfo = name.hasInfo || place == "cur";
        const fs::path target = *folder / place / JoinMessageName(renamed);
        if (target == *file_) return;
        if (const int err = RenameNoReplace(*file_, target); err != 0) {
            throw ErrnoError("Can't rename " + file_->string() + " to " + target.string(), err);
        }
        file_ = target;
    });
}

void MaildirMailItem::ChangeFile(const std::function<void()>& change) {
    try {
        change();
        return;
    } catch (const HostError& e) {
        if (e.Number() != ENOENT || !FindRenamedFile()) throw;
    }
    change();
}

bool MaildirMailItem::FindRenamedFile() {
    const auto folder = Folder();
    if (!folder) return false;
    struct stat info {};
    // Still there: the missing file was another one (the target folder's, say).
    if (::lstat(file_->c_str(), &info) == 0) return false;
    auto found = FindMessage(*folder, SplitMessageName(file_->filename().string()).base);
    if (!found) return false;
    file_ = std::move(*found);
    return true;
}

std::string MaildirMailItem::Subject() { return subject_; }

void MaildirMailItem::SetSubject(const std::string& subject) { subject_ = subject; }

std::string MaildirMailItem::Body() { return message_->Body(); }

std::string MaildirMailItem::InternetMessageId() { return message_->MessageId(); }

LocalDateTime MaildirMailItem::ReceivedTime() { return ToLocal(message_->ReceivedDate().value_or(arrival_)); }

AttachmentsPtr MaildirMailItem::Attachments() {
    // Parts the host did not read might hold the attachment: none is offered rather than a wrong one.
    if (!message_->Unreadable().empty()) throw HostError(EBADMSG, message_->Unreadable());
    std::vector<AttachmentPtr> items;
    for (GMimePart* part : message_->AttachmentParts()) {
        items.push_back(std::make_shared<MaildirAttachment>(message_, part, staged_ && staged_->part == part ? staged_ : nullptr));
    }
    return std::make_shared<ItemList<vexa::Attachments, AttachmentPtr>>(std::move(items));
}

RecipientsPtr MaildirMailItem::Recipients() { return MakeRecipients(RecipientAddresses()); }

MailItemPtr MaildirMailItem::Reply() {
    auto recipients = message_->ReplyTo();
    if (recipients.empty()) recipients = message_->From();
    return std::make_shared<MaildirReply>("RE: " + subject_, std::move(recipients));
}

void MaildirMailItem::MoveInto(const MaildirFolder& target) {
    MessageName name;
    std::string place;
    if (Folder()) {
        name = SplitMessageName(file_->filename().string());
        place = file_->parent_path().filename().string();
    } else {
        // A file from outside any Maildir gets a Maildir name and its read state as flags.
        name = {NewUniqueBase(), !unread_, unread_ ? "" : "S"};
        place = unread_ ? "new" : "cur";
    }
    file_ = MoveMessageFile(*file_, target.Path(), place, name);
}

MailItemPtr MaildirMailItem::Move(const MAPIFolderPtr& folder) {
    if (!folder) throw error::ObjectNotSet();
    auto target = std::dynamic_pointer_cast<MaildirFolder>(folder);
    if (!target || target->Session() != session_) throw error::TypeMismatch();
    if (!file_) throw NotInFolder();
    auto self = shared_from_this();
    if (const auto current = Folder(); current && SameFolder(*current, target->Path())) return self;
    if (!session_->HoldMove(self, target)) MoveNow(target);
    return self;
}

void MaildirMailItem::MoveNow(const std::shared_ptr<MaildirFolder>& target) {
    ChangeFile([&] { MoveInto(*target); });
    target->RaiseItemAdd(shared_from_this());
}

void MaildirMailItem::Delete() {
    if (!file_) throw NotInFolder();
    const auto trash = session_->Trash();
    if (const auto current = Folder(); current && SameFolder(*current, trash->Path())) {
        // Deleting in the trash deletes for good, as the host does in Deleted Items.
        ChangeFile([&] {
            const bool unread = *UnRead();
            if (::unlink(file_->c_str()) != 0) {
                const int err = errno;
                throw ErrnoError("Can't delete " + file_->string(), err);
            }
            file_.reset();
            unread_ = unread;
        });
        return;
    }
    if (!session_->HoldMove(shared_from_this(), trash)) MoveNow(trash);
}

std::vector<MailAddress> MaildirMailItem::SenderAddresses() { return message_->From(); }

std::vector<MailAddress> MaildirMailItem::RecipientAddresses() {
    std::vector<MailAddress> all = message_->Recipients();
    all.insert(all.end(), blind_.begin(), blind_.end());
    return all;
}

void MaildirMailItem::AddBlindRecipients(std::vector<MailAddress> blind) {
    blind_.insert(blind_.end(), std::make_move_iterator(blind.begin()), std::make_move_iterator(blind.end()));
}

std::string MaildirMailItem::RawMessageWithSubject() const {
    std::string raw = message_->RawBytes();
    if (subject_ == originalSubject_) return raw;
    return ReplaceSubjectField(raw, SubjectField(subject_));
}

std::int32_t MaildirReply::Class() { return kOlMail; }

// The host's date for an item that was never received.
LocalDateTime MaildirReply::ReceivedTime() { return {4501, 1, 1, 0, 0, 0}; }

AttachmentsPtr MaildirReply::Attachments() { return std::make_shared<ItemList<vexa::Attachments, AttachmentPtr>>(std::vector<AttachmentPtr>{}); }

RecipientsPtr MaildirReply::Recipients() { return MakeRecipients(recipients_); }

MailItemPtr MaildirReply::Reply() { return std::make_shared<MaildirReply>("RE: " + subject_, std::vector<MailAddress>{}); }

MailItemPtr MaildirReply::Move(const MAPIFolderPtr&) { throw NotInFolder(); }

void MaildirReply::Delete() { throw NotInFolder(); }

}  // namespace vexa::maildir
