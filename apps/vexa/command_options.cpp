// vexa options: the options dialog on the terminal, or the six options shown and changed from
// the command line as the dialog's OK would change them.

#include <cstdio>
#include <map>

#include "apps/vexa/cli.h"
#include "apps/vexa/option_parser.h"
#include "apps/vexa/runtime.h"
#include "settings/setting_names.h"

namespace vexa::cli {
namespace {

// Applies one KEY=VALUE to the dialog's controls; a value the control cannot hold is refused.
void Apply(frmOptions& form, const std::string& assignment) {
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

}  // namespace

int RunOptions(const Args& args) {
    const ParsedOptions options = ParseOptions(args, {{"show", false}, {"set", true}});
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    Runtime runtime({std::nullopt, std::nullopt});
    vexa::Connect& addin = runtime.UnconnectedAddin();

    if (!options.Has("show") && !options.Has("set")) {
        bool cancelDefault = false;
        addin.oCBtnOptions_Click(nullptr, cancelDefault);
        return runtime.ExitStatus();
    }
    try {
        if (options.Has("set")) {
            // Every assignment is checked before anything is saved.
            frmOptions& form = addin.Options();
            for (const auto& assignment : options.Values("set")) Apply(form, assignment);
            form.SaveOptions();
        }
        if (options.Has("show")) {
            const frmOptions& form = addin.Options();
            using namespace settings;
            std::printf("%s=%s\n", kInCriteria, form.tInCriteria.Text.c_str());
            std::printf("%s=%s\n", kConfirmCriteria, form.tConfirmCriteria.Text.c_str());
            std::printf("%s=%s\n", kOutCriteria, form.tOutCriteria.Text.c_str());
            std::printf("%s=%s\n", kStoreInMessages, form.rbStore.Value ? "True" : "False");
            std::printf("%s=%s\n", kStoreFolderName, form.tFolder.Text.c_str());
            std::printf("%s=%d\n", kAskDescription, form.chDescription.Value == 1 ? 1 : 0);
        }
    } catch (const UsageError&) {
        throw;
    } catch (...) {
        runtime.Messages().Show("Error in \"BtnOptions_Click\": " + CurrentErrorDescription(), kAppTitle);
    }
    return runtime.ExitStatus();
}

}  // namespace vexa::cli
