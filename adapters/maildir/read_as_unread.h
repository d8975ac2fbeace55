// A read message presented as unread for one arrival: `vexa scan --include-read` backfills an old
// mailbox whose faxes were read elsewhere (on a phone), and the arrival handler takes only unread
// mail. Everything but the read state is the message's own; once the handler sets the read state
// (after a failed clean-up), the message's real state shows again.
#pragma once

#include <memory>

#include "adapters/maildir/maildir_mail.h"

namespace vexa::maildir {

class ReadAsUnread final : public MaildirMail {
public:
    explicit ReadAsUnread(std::shared_ptr<MaildirMailItem> mail) : mail_(std::move(mail)) {}

    std::int32_t Class() override { return mail_->Class(); }
    std::optional<bool> UnRead() override { return stateSet_ ? mail_->UnRead() : std::optional<bool>(true); }
    void SetUnRead(bool unread) override {
        mail_->SetUnRead(unread);
        stateSet_ = true;
    }
    std::string Subject() override { return mail_->Subject(); }
    void SetSubject(const std::string& subject) override { mail_->SetSubject(subject); }
    std::string Body() override { return mail_->Body(); }
    LocalDateTime ReceivedTime() override { return mail_->ReceivedTime(); }
    AttachmentsPtr Attachments() override { return mail_->Attachments(); }
    RecipientsPtr Recipients() override { return mail_->Recipients(); }
    MailItemPtr Reply() override { return mail_->Reply(); }
    MailItemPtr Move(const MAPIFolderPtr& folder) override { return mail_->Move(folder); }
    void Delete() override { mail_->Delete(); }
    std::string InternetMessageId() override { return mail_->InternetMessageId(); }
    std::vector<MailAddress> SenderAddresses() override { return mail_->SenderAddresses(); }
    std::vector<MailAddress> RecipientAddresses() override { return mail_->RecipientAddresses(); }

    const std::shared_ptr<MaildirMailItem>& Mail() const noexcept { return mail_; }

private:
    std::shared_ptr<MaildirMailItem> mail_;
    bool stateSet_ = false;
};

}  // namespace vexa::maildir
