#include "apps/vexa/option_assignment.h"

#include "adapters/maildir/maildir_names.h"
#include "apps/vexa/cli.h"
#include "settings/setting_names.h"

namespace vexa::cli {
namespace {

// Empty is allowed: it keeps archived mail in the Inbox. Anything else must be a name the
// Maildir can make a folder of, or every fax would fail its clean-up later.
bool IsOneFolderNameOrNone(const std::string& name) { return name.empty() || maildir::IsValidFolderName(name); }

}  // namespace

StoredOption CheckOptionAssignment(const std::string& assignment) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) throw UsageError("--set needs KEY=VALUE, not '" + assignment + "'");
    StoredOption option{assignment.substr(0, equals), assignment.substr(equals + 1)};
    const std::string& key = option.key;
    const std::string& value = option.text;
    using namespace settings;
    if (key == kInCriteria || key == kConfirmCriteria || key == kOutCriteria) return option;
    if (key == kStoreFolderName) {
        if (!IsOneFolderNameOrNone(value)) {
            throw UsageError("StoreFolderName takes one folder name (no '/' or control characters, not starting with '.'), or nothing to keep archived mail in the Inbox, not '" +
                             value + "'");
        }
        return option;
    }
    if (key == kStoreInMessages) {
        if (value != "True" && value != "False") {
            throw UsageError("StoreInMessages takes True or False, not '" + value + "'");
        }
        return option;
    }
    if (key == kAskDescription) {
        if (value != "0" && value != "1") throw UsageError("AskDescription takes 0 or 1, not '" + value + "'");
        return option;
    }
    throw UsageError("unknown option key '" + key + "'");
}

void ApplyOptionAssignment(frmOptions& form, const std::string& assignment) {
    const StoredOption option = CheckOptionAssignment(assignment);
    using namespace settings;
    if (option.key == kInCriteria) {
        form.tInCriteria.Text = option.text;
    } else if (option.key == kConfirmCriteria) {
        form.tConfirmCriteria.Text = option.text;
    } else if (option.key == kOutCriteria) {
        form.tOutCriteria.Text = option.text;
    } else if (option.key == kStoreFolderName) {
        form.tFolder.Text = option.text;
    } else if (option.key == kStoreInMessages) {
        if (option.text == "True") {
            form.SelectStore();
        } else {
            form.SelectDelete();
        }
    } else {
        form.chDescription.Value = option.text == "1" ? 1 : 0;
    }
}

void SaveOptionAssignments(SettingsStore& store, const std::vector<std::string>& assignments) {
    for (const std::string& assignment : assignments) {
        const StoredOption option = CheckOptionAssignment(assignment);
        store.SaveSetting(settings::kAppName, settings::kOptions, option.key, option.text);
    }
}

}  // namespace vexa::cli
