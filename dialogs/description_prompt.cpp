// Asking the user for a fax's description. The answer is one of three: the text to store,
// "(no description)", or "" when the user cancelled and nothing is to be stored.

#include "addin/connect.h"
#include "dialogs/frm_description.h"

namespace vexa {

std::optional<std::string> Connect::DescriptionGivenInAdvance() {
    auto given = platform_.dialogs.DescriptionGivenInAdvance();
    if (given && given->empty()) return std::string(kNoDescription);
    return given;
}

std::string Connect::OpenDescription() {
    std::string result = kNoDescription;
    try {
        frmDescription form;
        platform_.dialogs.ShowModal(form);
        if (form.bCancelOn) {
            result = "";
        } else if (!form.Description().empty()) {
            result = form.Description();
        }
    } catch (...) {
        // A prompt that cannot be shown must not stop the fax from being archived.
        result = kNoDescription;
    }
    return result;
}

}  // namespace vexa
