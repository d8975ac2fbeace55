#include "adapters/memory/memory_mail.h"

#include <filesystem>
#include <fstream>

#include "adapters/memory/memory_store.h"

namespace vexa::memory {
namespace {

class MemoryAttachment final : public Attachment {
public:
    MemoryAttachment(std::shared_ptr<FaultPlan> faults, AttachmentSpec fields)
        : faults_(std::move(faults)), spec_(std::move(fields)) {}

    std::string FileName() override { return spec_.fileName; }

    void SaveAsFile(const std::string& path) override {
        faults_->Check(HostOp::AttachmentSaveAsFile);
        const std::filesystem::path target(path);
        std::error_code ec;
        if (!std::filesystem::is_directory(target.parent_path().empty() ? "." : target.parent_path(), ec)) {
            throw HostError(static_cast<std::int32_t>(0x80070003u),
                            "Cannot save the attachment. Path does not exist. Verify the path is correct.");
        }
        // Like the host, an existing file of the same name is overwritten.
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(spec_.bytes.data(), static_cast<std::streamsize>(spec_.bytes.size()));
        out.close();
        if (!out) {
            throw HostError(static_cast<std::int32_t>(0x80030103u),
                            "Cannot save the attachment. Cannot create file: " + target.filename().string());
        }
    }

private:
    std::shared_ptr<FaultPlan> faults_;
    AttachmentSpec spec_;
};

class MemoryAddressEntry final : public AddressEntry {
public:
    explicit MemoryAddressEntry(std::string address) : address_(std::move(address)) {}
    std::string Address() override { return address_; }

private:
    std::string address_;
};

class MemoryRecipient final : public Recipient {
public:
    explicit MemoryRecipient(RecipientSpec fields) : spec_(std::move(fields)) {}
    std::string Address() override { return spec_.address; }
    AddressEntryPtr AddressEntry() override {
        if (!spec_.entryAddress) return nullptr;
        return std::make_shared<MemoryAddressEntry>(*spec_.entryAddress);
    }
    std::string Name() override { return spec_.name; }

private:
    RecipientSpec spec_;
};

}  // namespace

MemoryMailItem::MemoryMailItem(std::shared_ptr<FaultPlan> faults, MailSpec fields)
    : faults_(std::move(faults)), spec_(std::move(fields)) {}

std::int32_t MemoryMailItem::Class() {
    faults_->Check(HostOp::ItemClass);
    return kOlMail;
}

std::optional<bool> MemoryMailItem::UnRead() {
    faults_->Check(HostOp::ItemUnRead);
    return spec_.unread;
}

std::string MemoryMailItem::Subject() {
    faults_->Check(HostOp::MailSubject);
    return spec_.subject;
}

void MemoryMailItem::SetSubject(const std::string& subject) {
    faults_->Check(HostOp::MailSetSubject);
    spec_.subject = subject;
}

std::string MemoryMailItem::Body() {
    faults_->Check(HostOp::MailBody);
    return spec_.body;
}

LocalDateTime MemoryMailItem::ReceivedTime() {
    faults_->Check(HostOp::MailReceivedTime);
    return spec_.receivedTime;
}

void MemoryMailItem::SetUnRead(bool unread) {
    faults_->Check(HostOp::MailSetUnRead);
    spec_.unread = unread;
}

AttachmentsPtr MemoryMailItem::Attachments() {
    faults_->Check(HostOp::MailAttachments);
    std::vector<AttachmentPtr> items;
    for (const auto& fields : spec_.attachments) items.push_back(std::make_shared<MemoryAttachment>(faults_, fields));
    return std::make_shared<ItemList<vexa::Attachments, AttachmentPtr>>(std::move(items));
}

RecipientsPtr MemoryMailItem::Recipients() {
    faults_->Check(HostOp::MailRecipients);
    std::vector<RecipientPtr> items;
    for (const auto& fields : spec_.recipients) items.push_back(std::make_shared<MemoryRecipient>(fields));
    return std::make_shared<ItemList<vexa::Recipients, RecipientPtr>>(std::move(items));
}

MailItemPtr MemoryMailItem::Reply() {
    faults_->Check(HostOp::MailReply);
    MailSpec reply;
    reply.subject = "RE: " + spec_.subject;
    reply.unread = false;
    if (spec_.replyRecipients) {
        reply.recipients = *spec_.replyRecipients;
    } else if (spec_.senderAddress) {
        reply.recipients.push_back({*spec_.senderAddress, spec_.senderName, *spec_.senderAddress});
    }
    return std::make_shared<MemoryMailItem>(faults_, std::move(reply));
}

MailItemPtr MemoryMailItem::Move(const MAPIFolderPtr& folder) {
    faults_->Check(HostOp::MailMove);
    auto target = std::dynamic_pointer_cast<MemoryFolder>(folder);
    if (!target) throw error::TypeMismatch();
    auto self = shared_from_this();
    if (auto parent = parent_.lock()) parent->Remove(self);
    target->Receive(self);
    return self;
}

void MemoryMailItem::Delete() {
    faults_->Check(HostOp::MailDelete);
    auto self = shared_from_this();
    auto parent = parent_.lock();
    if (!parent) throw FaultPlan::GenericFailure();
    parent->Remove(self);
    // Deleting moves the item to Deleted Items; deleting it there removes it for good.
    if (auto bin = parent->DeletedItems(); bin && bin != parent) bin->Receive(self);
}

std::int32_t MemoryOtherItem::Class() {
    faults_->Check(HostOp::ItemClass);
    return class_;
}

std::optional<bool> MemoryOtherItem::UnRead() {
    faults_->Check(HostOp::ItemUnRead);
    return unread_;
}

}  // namespace vexa::memory
