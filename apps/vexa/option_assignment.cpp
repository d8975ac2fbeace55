#include "apps/vexa/option_assignment.h"

#include "apps/vexa/cli.h"
#include "settings/setting_names.h"

namespace vexa::cli {

void ApplyOptionAssignment(frmOptions& form, const std::string& assignment) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) throw UsageError("--set needs KEY=VALUE, not '" + assignment + "'");
    const std::string key = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    using namespace settings;
    if (key == kInCriteria) {
        form.tInCriteria.Text = value;
    } else if (key == kConfirmCriteria) {
        form.tConfirmCriteria.Text = value;
    } else if (key == kOutCriteria) {
        form.tOutCriteria.Text = value;
    } else if (key == kStoreFolderName) {
        form.tFolder.Text = value;
    } else if (key == kStoreInMessages) {
        if (value == "True") {
            form.SelectStore();
        } else if (value == "False") {
            form.SelectDelete();
        } else {
            throw UsageError("StoreInMessages takes True or False, not '" + value + "'");
        }
    } else if (key == kAskDescription) {
        if (value != "0" && value != "1") throw UsageError("AskDescription takes 0 or 1, not '" + value + "'");
        form.chDescription.Value = value == "1" ? 1 : 0;
    } else {
        throw UsageError("unknown option key '" + key + "'");
    }
}

}  // namespace vexa::cli
