// The Inbox items' ItemAdd: new faxes and confirmations are archived as they arrive.

#include "addin/connect.h"

namespace vexa {

void Connect::oInboxItems_ItemAdd(const ItemPtr& /*Item*/) {
    if (!bInitialized) {
        MsgBox("Application is not initialized!");
        return;
    }
    // Recognising and archiving arrivals joins here with the archive's store procedures.
}

}  // namespace vexa
