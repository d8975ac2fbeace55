// Recording the outcome of a transmission: the confirmation's subject says whether it succeeded,
// and the tag it quotes from our outgoing subject names the send row to mark.

#include "addin/connect.h"
#include "archive/mail_text.h"
#include "host/mail_item.h"

namespace vexa {

StoreOutcome Connect::StoreConfirm(const MailItemPtr& oMailItem, const bool& /*bAutomatic*/) {
    try {
        std::string status;
        switch (TestConfirmMessage(oMailItem)) {
            case ConfirmOutcome::coSuccessful:
                status = "Successful";
                break;
            case ConfirmOutcome::coUnsuccessful:
                status = "Unsuccessful";
                break;
            default:
                return StoreOutcome::Unchanged;
        }
        const std::optional<std::int64_t> id = TaggedRowId(Deref(oMailItem).Body());
        if (!id) return StoreOutcome::Unchanged;
        // Nothing taken from the mail is spliced into the statement: both values are bound.
        const auto affected =
            ExecuteReported("UPDATE send SET Confirm = ? WHERE Id = ?", {FieldValue(status), FieldValue(*id)});
        if (!affected) return StoreOutcome::Failed;
        if (*affected > 0) {
            storedRow_ = *id;
            storedDetail_ = status;
        }
        // A tag for a row that does not exist changes nothing, and that is not an error.
        return StoreOutcome::Stored;
    } catch (...) {
        MsgBox("Error in \"StoreConfirm\": " + CurrentErrorDescription());
        return StoreOutcome::Failed;
    }
}

}  // namespace vexa
