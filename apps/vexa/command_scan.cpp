// vexa scan: the Inbox arrival for every message now in the Inbox whose arrival is due, oldest
// first, with a summary. A message whose arrival was raised before (by a scan or a watch) is not
// raised again; --include-read also raises read messages, to backfill an old mailbox. With an
// IMAP account the same archiving runs over the account's mirror (see linux/imap_mirror.h).

#include <cstdio>
#include <vector>

#include "apps/vexa/cli.h"
#include "apps/vexa/command_runtime.h"
#include "apps/vexa/imap_options.h"
#include "apps/vexa/option_parser.h"
#include "linux/imap_archiving.h"
#include "linux/maildir_archiving.h"

namespace vexa::cli {
namespace {

// The summary line, and the status: 75 when messages were left due for the next try (the
// archive went away, or the IMAP connection dropped).
int Finish(CommandRuntime& runtime, const linuxhost::ScanResult& result) {
    runtime.Shutdown();
    std::printf("%s\n", result.tally.Summary().c_str());
    if (result.stopped) return kExitTempFail;
    return runtime.ExitStatus();
}

int RunImapScan(const linuxhost::ImapAccount& account, bool includeRead) {
    const std::filesystem::path folder = linuxhost::PrepareMirror(account);
    bool temporary = false;
    const auto server = linuxhost::OpenImapAtStart(account, temporary);
    if (!server) return temporary ? kExitTempFail : kExitConfig;
    CommandRuntime runtime({folder.string(), std::nullopt});
    runtime.NameMailbox("The IMAP account " + account.url);
    if (const auto failed = runtime.StartArchiving()) return *failed;
    return Finish(runtime, linuxhost::ScanImap(runtime, *server, account, includeRead));
}

}  // namespace

int RunScan(const Args& args) {
    std::vector<OptionRule> rules = ImapOptionRules();
    rules.insert(rules.end(), {{"maildir", true}, {"include-read", false}});
    const ParsedOptions options = ParseOptions(args, rules);
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    const bool includeRead = options.Has("include-read");
    if (const auto account = ImapAccountOf(options)) return RunImapScan(*account, includeRead);
    CommandRuntime runtime({options.Value("maildir"), std::nullopt});
    if (const auto failed = runtime.StartArchiving()) return *failed;
    return Finish(runtime, linuxhost::ScanMaildir(runtime, includeRead));
}

}  // namespace vexa::cli
