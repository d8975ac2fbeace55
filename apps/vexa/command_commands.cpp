// The toolbar's commands as subcommands: convert (the selection is the files named), open (the
// indicator: the archive in its viewer) and manual (help).

#include <filesystem>

#include "apps/vexa/cli.h"
#include "apps/vexa/option_parser.h"
#include "apps/vexa/runtime.h"
#include "apps/vexa/selection_application.h"

namespace vexa::cli {
namespace {

using ToolbarCommand = void (vexa::Connect::*)(const CommandBarButtonPtr&, bool&);

int RunToolbarCommand(const Args& args, ToolbarCommand command) {
    const ParsedOptions options = ParseOptions(args, {{"maildir", true}});
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    Runtime runtime({options.Value("maildir"), std::nullopt});
    if (!runtime.Connect()) return kExitConfig;
    bool cancelDefault = false;
    (runtime.Addin().*command)(nullptr, cancelDefault);
    runtime.Shutdown();
    return runtime.ExitStatus();
}

}  // namespace

int RunConvert(const Args& args) {
    const ParsedOptions options = ParseOptions(args, {{"maildir", true}, {"description", true}});
    for (const auto& file : options.Operands()) {
        if (!std::filesystem::is_regular_file(file)) throw UsageError("'" + file + "' is not a file");
    }
    Runtime runtime({options.Value("maildir"), options.Value("description")});
    if (!runtime.OpenMailbox()) return kExitConfig;
    std::vector<ItemPtr> selection;
    for (const auto& file : options.Operands()) selection.push_back(runtime.Session().LoadItem(file));
    auto application = std::make_shared<SelectionApplication>(runtime.Session().NewApplication(), std::move(selection));
    if (!runtime.Connect(application)) return kExitConfig;
    bool cancelDefault = false;
    runtime.Addin().oCBtnConvert_Click(nullptr, cancelDefault);
    runtime.Shutdown();
    return runtime.ExitStatus();
}

int RunOpen(const Args& args) { return RunToolbarCommand(args, &vexa::Connect::oCBtnIndicator_Click); }

int RunManual(const Args& args) { return RunToolbarCommand(args, &vexa::Connect::oCBtnHelp_Click); }

}  // namespace vexa::cli
