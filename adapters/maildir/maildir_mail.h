// Mail items of the Maildir host: a message file (or a message read from standard input) seen
// through the host's MailItem, the reply it would build and the item of a file that is no mail.
// The session creates them; the command-line program also reads RawMessageWithSubject to send.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/mail_item.h"

namespace vexa::maildir {

class MaildirSession;
class MaildirFolder;
class MimeMessage;
struct StagedContent;

struct MailAddress {
    std::string name;
    std::string address;
};

// Any mail item of this host, as the mail-item wrapper reads it.
class MaildirMail : public MailItem {
public:
    // From: mailboxes, groups flattened.
    virtual std::vector<MailAddress> SenderAddresses() = 0;
    // To, then Cc, then Bcc.
    virtual std::vector<MailAddress> RecipientAddresses() = 0;
};

class MaildirMailItem final : public MaildirMail, public std::enable_shared_from_this<MaildirMailItem> {
public:
    // `file` unset: a message in no folder. `arrival` stands in for the received time when the
    // message has no Received: field (the file's modification time, or when it was read).
    MaildirMailItem(std::shared_ptr<MaildirSession> session, std::shared_ptr<MimeMessage> message,
                    std::optional<std::filesystem::path> file, std::time_t arrival);
    ~MaildirMailItem() override;

    std::int32_t Class() override;
    std::optional<bool> UnRead() override;
    std::string Subject() override;
    void SetSubject(const std::string& subject) override;
    std::string Body() override;
    LocalDateTime ReceivedTime() override;
    void SetUnRead(bool unread) override;
    AttachmentsPtr Attachments() override;
    RecipientsPtr Recipients() override;
    MailItemPtr Reply() override;
    MailItemPtr Move(const MAPIFolderPtr& folder) override;
    void Delete() override;
    std::string InternetMessageId() override;
    std::vector<MailAddress> SenderAddresses() override;
    std::vector<MailAddress> RecipientAddresses() override;

    // The message as read, with the Subject: field replaced by the current subject when it was
    // changed (encoded and folded when it is not ASCII); byte for byte the input otherwise.
    std::string RawMessageWithSubject() const;
    // Where the message file is now (it follows moves and flag changes); unset when the message
    // is in no folder or was deleted for good.
    const std::optional<std::filesystem::path>& File() const noexcept { return file_; }
    // The content of one of its attachments, decoded ahead of the save.
    void SetStagedContent(std::shared_ptr<StagedContent> staged) { staged_ = std::move(staged); }
    // Recipients the message goes to that no field of it names (the blind copies of a mail handed
    // over by SMTP, whose Bcc: field the mail program took out): they follow the fields'
    // recipients, as Bcc follows To and Cc. The message itself is not changed.
    void AddBlindRecipients(std::vector<MailAddress> blind);

private:
    // Moves the file into `target` now and raises the target's ItemAdd.
    void MoveNow(const std::shared_ptr<MaildirFolder>& target);
    // The Maildir folder holding the file, when the file is in one's new/ or cur/.
    std::optional<std::filesystem::path> Folder() const;
    void MoveInto(const MaildirFolder& target);
    // Runs `change` on the message file. When the file is gone because a mail reader or Dovecot
    // renamed it meanwhile (Dovecot moves new mail to cur/ the moment a client idles on the
    // folder), finds it again by its unique part in the same folder and runs `change` once more.
    void ChangeFile(const std::function<void()>& change);
    // Points the item at its file's new name; false when the file is still there or not found.
    bool FindRenamedFile();

    std::shared_ptr<MaildirSession> session_;
    std::shared_ptr<MimeMessage> message_;
    std::optional<std::filesystem::path> file_;
    std::time_t arrival_;
    std::string originalSubject_;
    std::string subject_;
    // The read state of a message that has no Maildir file name to carry it.
    bool unread_ = true;
    std::shared_ptr<StagedContent> staged_;
    std::vector<MailAddress> blind_;
};

// A reply as the host builds one: never saved, shown or sent; only its recipients matter.
class MaildirReply final : public MaildirMail {
public:
    MaildirReply(std::string subject, std::vector<MailAddress> recipients)
        : subject_(std::move(subject)), recipients_(std::move(recipients)) {}

    std::int32_t Class() override;
    std::optional<bool> UnRead() override { return false; }
    std::string Subject() override { return subject_; }
    void SetSubject(const std::string& subject) override { subject_ = subject; }
    std::string Body() override { return ""; }
    LocalDateTime ReceivedTime() override;
    void SetUnRead(bool) override {}
    AttachmentsPtr Attachments() override;
    RecipientsPtr Recipients() override;
    MailItemPtr Reply() override;
    MailItemPtr Move(const MAPIFolderPtr& folder) override;
    void Delete() override;
    std::vector<MailAddress> SenderAddresses() override { return {}; }
    std::vector<MailAddress> RecipientAddresses() override { return recipients_; }

private:
    std::string subject_;
    std::vector<MailAddress> recipients_;
};

// The item of a file that is not a mail message (or cannot be read): class 0, no read state,
// so that the add-in turns it away as it turns away any item that is not mail.
class NotMailItem final : public Item {
public:
    std::int32_t Class() override { return 0; }
    std::optional<bool> UnRead() override { return std::nullopt; }
};

}  // namespace vexa::maildir
