// The application's ItemSend: faxes sent through the service's gateway are archived on their way
// out, and a fax that could not be archived is not sent.

#include "addin/connect.h"
#include "host/mail_item.h"

namespace vexa {

void Connect::oApp_ItemSend(const ItemPtr& Item, bool& Cancel) {
    if (!bInitialized) {
        MsgBox("Application is not initialized!");
        return;
    }
    try {
        if (Deref(Item).Class() != kOlMail) return;
        const MailItemPtr mail = As<MailItem>(Item);
        if (TestJ2Message(mail, false, true) == MessageKind::mkOutgoing) Cancel = !StoreOutMessage(mail);
    } catch (...) {
        MsgBox("Error in \"ItemSend\": " + CurrentErrorDescription());
    }
}

}  // namespace vexa
