// The Inbox items' ItemAdd: new faxes and confirmations are archived as they arrive and then
// cleaned out of the Inbox. A message whose archiving failed stays in the Inbox, unread, where
// the user sees it and can archive it with the Convert command.

#include "addin/connect.h"
#include "host/mail_item.h"

namespace vexa {

void Connect::oInboxItems_ItemAdd(const ItemPtr& Item) {
    if (!bInitialized) {
        MsgBox("Application is not initialized!");
        return;
    }
    try {
        if (Deref(Item).Class() != kOlMail) return;
        // Mail that arrives already read is left alone; a null state counts as read.
        if (!Item->UnRead().value_or(false)) return;
        const MailItemPtr mail = As<MailItem>(Item);
        StoreOutcome outcome;
        switch (TestJ2Message(mail, true, false)) {
            case MessageKind::mkIncoming:
                outcome = StoreInMessage(mail, true);
                break;
            case MessageKind::mkConfirmation:
                outcome = StoreConfirm(mail, true);
                break;
            default:
                return;
        }
        if (outcome != StoreOutcome::Failed) CleanInbox(mail);
    } catch (...) {
        MsgBox("Error in \"ItemAdd\": " + CurrentErrorDescription());
    }
}

}  // namespace vexa
