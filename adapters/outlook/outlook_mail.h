// Outlook's mail items as the core's host objects: every member is a late-bound call on the item's
// IDispatch, with Outlook's failures turned into HostError. Used for the items that Outlook hands
// to the add-in and to its public methods; folders and events follow with the rest of Outlook's
// object model.
#pragma once

#include <oaidl.h>

#include "adapters/outlook/late_bound.h"
#include "host/mail_item.h"

namespace vexa::outlook {

class OutlookMailItem final : public MailItem {
public:
    explicit OutlookMailItem(ComPtr<IDispatch> item) : item_(std::move(item)) {}

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

    IDispatch* Dispatch() const noexcept { return item_.Object(); }

private:
    LateBound item_;
};

// The core's view of an object Outlook handed over: a mail item, or null for Nothing.
MailItemPtr WrapMailItem(IDispatch* item);

}  // namespace vexa::outlook
