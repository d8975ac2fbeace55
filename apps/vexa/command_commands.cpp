// The toolbar's commands as subcommands: convert (the selection is each message named in turn),
// open (the indicator: the archive in its viewer) and manual (help). None of them touches the
// mailbox, so none needs one.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <iterator>

#include "adapters/maildir/maildir_mail.h"
#include "apps/vexa/cli.h"
#include "apps/vexa/command_runtime.h"
#include "apps/vexa/imap_options.h"
#include "apps/vexa/option_parser.h"
#include "apps/vexa/selection_application.h"
#include "linux/imap_archiving.h"
#include "linux/imap_message_copy.h"

namespace vexa::cli {
namespace {

using ToolbarCommand = void (vexa::Connect::*)(const CommandBarButtonPtr&, bool&);

constexpr const char* kStandardInput = "-";

int RunToolbarCommand(const Args& args, ToolbarCommand command) {
    const ParsedOptions options = ParseOptions(args, {{"maildir", true}});
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    CommandRuntime runtime({options.Value("maildir"), std::nullopt, true});
    if (!runtime.Connect()) return kExitConfig;
    bool cancelDefault = false;
    (runtime.Addin().*command)(nullptr, cancelDefault);
    runtime.Shutdown();
    return runtime.ExitStatus();
}

// The message of an operand: a file, or "-" for the message on standard input (a procmail or
// maildrop pipe). Anything that is no mail message becomes an item the command turns away.
ItemPtr LoadMessage(linuxhost::Runtime& runtime, const std::string& operand) {
    if (operand != kStandardInput) return runtime.Session().LoadItem(operand);
    const std::string bytes((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    try {
        return runtime.Session().ParseMessage(bytes);
    } catch (...) {
        return std::make_shared<maildir::NotMailItem>();
    }
}

}  // namespace

// --uid N: the message of an IMAP account's Inbox, fetched into a private copy to be converted.
int ConvertImapMessage(const ParsedOptions& options) {
    if (!options.Operands().empty()) throw UsageError("--uid and files exclude each other");
    const std::string text = *options.Value("uid");
    std::uint32_t uid = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), uid);
    if (error != std::errc() || end != text.data() + text.size() || uid == 0) {
        throw UsageError("--uid takes a message's UID, not '" + text + "'");
    }
    const auto account = ImapAccountOf(options);
    if (!account) throw UsageError("--uid needs an IMAP account: --imap URL, or Url= in [Mailbox]");
    bool temporary = false;
    const auto server = linuxhost::OpenImapAtStart(*account, temporary);
    if (!server) return temporary ? kExitTempFail : kExitConfig;
    CommandRuntime runtime({std::nullopt, options.Value("description"), true});
    if (!runtime.OpenMailbox()) return kExitConfig;
    auto application = std::make_shared<SelectionApplication>(runtime.Session().NewApplication(), std::vector<ItemPtr>{});
    if (!runtime.Connect(application)) return kExitConfig;
    try {
        linuxhost::ImapMessageCopy copy(*server, *account, uid);
        application->Select({runtime.Session().LoadItem(copy.File())});
        const int shownBefore = runtime.Messages().Shown();
        bool cancelDefault = false;
        runtime.Addin().oCBtnConvert_Click(nullptr, cancelDefault);
        application->Select({});
        if (runtime.Messages().Shown() == shownBefore) copy.MarkArchived();
    } catch (...) {
        runtime.Messages().Show(CurrentErrorDescription(), kAppTitle);
    }
    runtime.Shutdown();
    return runtime.ExitStatus();
}

int RunConvert(const Args& args) {
    std::vector<OptionRule> rules = ImapOptionRules();
    rules.insert(rules.end(), {{"maildir", true}, {"description", true}, {"uid", true}});
    const ParsedOptions options = ParseOptions(args, rules);
    if (options.Has("uid")) return ConvertImapMessage(options);
    for (const auto& rule : ImapOptionRules()) {
        if (options.Has(rule.name)) throw UsageError(std::string("--") + rule.name + " goes with --uid N");
    }
    bool readsInput = false;
    for (const auto& operand : options.Operands()) {
        if (operand == kStandardInput) {
            if (readsInput) throw UsageError("standard input can be read only once");
            readsInput = true;
        } else if (!std::filesystem::is_regular_file(operand)) {
            throw UsageError("'" + operand + "' is not a file");
        }
    }
    CommandRuntime runtime({options.Value("maildir"), options.Value("description"), true});
    if (!runtime.OpenMailbox()) return kExitConfig;
    auto application = std::make_shared<SelectionApplication>(runtime.Session().NewApplication(), std::vector<ItemPtr>{});
    if (!runtime.Connect(application)) return kExitConfig;
    bool cancelDefault = false;
    if (options.Operands().empty()) {
        runtime.Addin().oCBtnConvert_Click(nullptr, cancelDefault);  // nothing selected, and it says so
    }
    // Each message is a selection of its own, as though the user selected and converted one after
    // the other: the add-in converts exactly one selected message.
    const bool several = options.Operands().size() > 1;
    for (const auto& operand : options.Operands()) {
        application->Select({LoadMessage(runtime, operand)});
        const int shownBefore = runtime.Messages().Shown();
        runtime.Addin().oCBtnConvert_Click(nullptr, cancelDefault);
        application->Select({});
        if (several && runtime.Messages().Shown() > shownBefore) {
            std::fprintf(stderr, "vexa convert: in %s\n", operand == kStandardInput ? "standard input" : operand.c_str());
        }
    }
    runtime.Shutdown();
    return runtime.ExitStatus();
}

int RunOpen(const Args& args) { return RunToolbarCommand(args, &vexa::Connect::oCBtnIndicator_Click); }

int RunManual(const Args& args) { return RunToolbarCommand(args, &vexa::Connect::oCBtnHelp_Click); }

}  // namespace vexa::cli
