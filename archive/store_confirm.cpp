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
                return Reported({MessageKind::mkConfirmation, StoreOutcome::Unchanged, 0, {}});
        }
        const std::optional<std::int64_t> id = TaggedRowId(Deref(oMailItem).Body());
        if (!id) return Reported({MessageKind::mkConfirmation, StoreOutcome::Unchanged, 0, {}});
        // Nothing taken from the mail is spliced into the statement: both values are bound.
        const auto affected =
            ExecuteReported("UPDATE send SET Confirm = ? WHERE Id = ?", {FieldValue(status), FieldValue(*id)});
        if (!affected) return Reported({MessageKind::mkConfirmation, StoreOutcome::Failed, 0, {}, lastFailureTransient_});
        // A tag for a row that does not exist changes nothing, and that is not an error.
        if (*affected == 0) return Reported({MessageKind::mkConfirmation, StoreOutcome::Stored, 0, {}});
        return Reported({MessageKind::mkConfirmation, StoreOutcome::Stored, *id, status});
    } catch (...) {
        const bool transient = CurrentErrorTransient();
        MsgBox("Error in \"StoreConfirm\": " + CurrentErrorDescription());
        return Reported({MessageKind::mkConfirmation, StoreOutcome::Failed, 0, {}, transient});
    }
}

}  // namespace vexa
