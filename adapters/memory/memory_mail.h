// Items of the memory host: mail items with their attachments and recipients, and items of other
// classes (appointments, reports) that arrive in folders too. Tests build them from a MailSpec.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adapters/memory/memory_faults.h"
#include "host/item_list.h"  // IndexOutOfBounds for the other collections of this host
#include "host/mail_item.h"

namespace vexa::memory {

class MemoryFolder;

struct AttachmentSpec {
    std::string fileName;
    std::string bytes;
};

struct RecipientSpec {
    std::string address;
    std::string name;
    // The address of the recipient's address entry; the entry is absent when this is unset.
    std::optional<std::string> entryAddress;
};

struct MailSpec {
    std::string subject;
    std::string body;
    // The sender's address as the mail-item wrapper reports it; no sender when unset.
    std::optional<std::string> senderAddress;
    std::string senderName;
    std::vector<RecipientSpec> recipients;
    std::vector<AttachmentSpec> attachments;
    bool unread = true;
    LocalDateTime receivedTime{2026, 12, 8, 9, 30, 0};
    // Whom a reply would be addressed to; by default the sender alone.
    std::optional<std::vector<RecipientSpec>> replyRecipients;
};

class MemoryMailItem final : public MailItem, public std::enable_shared_from_this<MemoryMailItem> {
public:
    MemoryMailItem(std::shared_ptr<FaultPlan> faults, MailSpec fields);

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

    // Test view of the item as it stands now.
    const MailSpec& Contents() const { return spec_; }
    std::shared_ptr<MemoryFolder> Parent() const { return parent_.lock(); }
    void SetParent(const std::shared_ptr<MemoryFolder>& parent) { parent_ = parent; }

private:
    std::shared_ptr<FaultPlan> faults_;
    MailSpec spec_;
    std::weak_ptr<MemoryFolder> parent_;
};

// Any other item class (a meeting request, a contact, a report); its unread state may be null.
class MemoryOtherItem final : public Item {
public:
    MemoryOtherItem(std::shared_ptr<FaultPlan> faults, std::int32_t itemClass, std::optional<bool> unread)
        : faults_(std::move(faults)), class_(itemClass), unread_(unread) {}
    std::int32_t Class() override;
    std::optional<bool> UnRead() override;

private:
    std::shared_ptr<FaultPlan> faults_;
    std::int32_t class_;
    std::optional<bool> unread_;
};

}  // namespace vexa::memory
