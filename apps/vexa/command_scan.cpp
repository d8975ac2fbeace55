// vexa scan: the Inbox arrival for every message now in the Inbox whose arrival is due, oldest
// first, with a summary. A message whose arrival was raised before (by a scan or a watch) is not
// raised again; --include-read also raises read messages, to backfill an old mailbox.

#include <cstdio>
#include <vector>

#include "apps/vexa/cli.h"
#include "apps/vexa/imap_options.h"
#include "apps/vexa/imap_commands.h"
#include "apps/vexa/option_parser.h"
#include "apps/vexa/command_runtime.h"
#include "linux/archiving_loop.h"

namespace vexa::cli {

using linuxhost::ArchiveDue;
using linuxhost::ScanTally;

int RunScan(const Args& args) {
    std::vector<OptionRule> rules = ImapOptionRules();
    rules.insert(rules.end(), {{"maildir", true}, {"include-read", false}});
    const ParsedOptions options = ParseOptions(args, rules);
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    const bool includeRead = options.Has("include-read");
    if (const auto account = ImapAccountOf(options)) return RunImapScan(*account, includeRead);
    CommandRuntime runtime({options.Value("maildir"), std::nullopt});
    if (!runtime.Connect()) return kExitConfig;
    if (!runtime.LockForArchiving()) return kExitTempFail;

    ScanTally tally;
    ArchiveDue(runtime, includeRead, tally);
    runtime.Shutdown();
    std::printf("%s\n", tally.Summary().c_str());
    // The archive's server went away: the rest is in the Inbox for the next try.
    if (tally.archiveLost) return kExitTempFail;
    return runtime.ExitStatus();
}

}  // namespace vexa::cli
