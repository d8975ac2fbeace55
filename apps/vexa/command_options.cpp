// vexa options: the options dialog on the terminal, or the six options shown and changed from
// the command line as the dialog's OK would change them.

#include <cstdio>
#include <map>

#include "apps/vexa/cli.h"
#include "apps/vexa/command_runtime.h"
#include "apps/vexa/option_assignment.h"
#include "apps/vexa/option_parser.h"
#include "host/host_error.h"
#include "settings/setting_names.h"

namespace vexa::cli {

int RunOptions(const Args& args) {
    const ParsedOptions options = ParseOptions(args, {{"show", false}, {"set", true}});
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    CommandRuntime runtime({std::nullopt, std::nullopt});
    vexa::Connect& addin = runtime.UnconnectedAddin();

    if (!options.Has("show") && !options.Has("set")) {
        bool cancelDefault = false;
        addin.oCBtnOptions_Click(nullptr, cancelDefault);
        return runtime.ExitStatus();
    }
    try {
        if (options.Has("set")) {
            // Every assignment is checked before anything is saved.
            const auto& assignments = options.Values("set");
            for (const auto& assignment : assignments) CheckOptionAssignment(assignment);
            frmOptions* form = nullptr;
            try {
                form = &addin.Options();
            } catch (const HostError&) {
                // A stored value no longer converts, so the dialog cannot load. Setting that option
                // repairs it: the new values go to the store as they are, and the dialog loads
                // again (and fails as before if another value is damaged too).
                SaveOptionAssignments(runtime.MakePlatform().settings, assignments);
                form = &addin.Options();
            }
            for (const auto& assignment : assignments) ApplyOptionAssignment(*form, assignment);
            form->SaveOptions();
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
