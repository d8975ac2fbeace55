// vexa watch: archives faxes and confirmations as they arrive (see linux/maildir_archiving.h and
// linux/imap_archiving.h). One line per archived message goes to standard output (-q: none).
// A Maildir that goes away (deleted, moved, its file system unmounted) leaves nothing to watch:
// watch says so and exits 75 once what it was doing is committed, and the service manager starts
// it again; a start without the Maildir exits 75 as well, so the restarts go on until it is back.
// SIGHUP reloads the options; SIGTERM and SIGINT shut down as the explorer's close and the
// disconnection do, and a clean shutdown exits 0 whatever was reported while it ran: a service
// manager must not take a requested stop for a failure.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "adapters/maildir/maildir_files.h"
#include "apps/vexa/cli.h"
#include "apps/vexa/command_runtime.h"
#include "apps/vexa/imap_options.h"
#include "apps/vexa/option_parser.h"
#include "linux/environment.h"
#include "linux/imap_archiving.h"
#include "linux/maildir_archiving.h"
#include "linux/watch_signals.h"

namespace vexa::cli {
namespace {

using linuxhost::WatchEnd;

// The status that has the service manager start watch again after its pause.
int MaildirGone(const std::filesystem::path& inbox) {
    std::fprintf(stderr,
                 "vexa watch: the Maildir %s is gone (deleted, moved or unmounted); exiting so that the service starts "
                 "watch again once it is back\n",
                 inbox.c_str());
    return kExitTempFail;
}

// The line of each archived message, once its group is committed.
linuxhost::ArchivingLoop::Committed PrintLines(bool quiet) {
    return [quiet](const linuxhost::HandledArrival& handled) {
        const std::string line = linuxhost::ArrivalLine(handled);
        if (quiet || line.empty()) return;
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
}

void PrintWatching(const std::string& what) {
    std::printf("Watching %s\n", what.c_str());
    std::fflush(stdout);
}

// A commit whose outcome is unknown is read back at the next start: 75. A clean shutdown is 0,
// unless the shutdown itself reported something.
int Finish(CommandRuntime& runtime, WatchEnd end) {
    if (end == WatchEnd::OutcomeUnknown) {
        runtime.Shutdown();
        return kExitTempFail;
    }
    const int shownBefore = runtime.Messages().Shown();
    runtime.Shutdown();
    return runtime.Messages().Shown() == shownBefore ? kExitOk : kExitReported;
}

int RunImapWatch(const linuxhost::ImapAccount& account, bool quiet) {
    linuxhost::WatchSignals signals;
    const std::filesystem::path folder = linuxhost::PrepareMirror(account);
    bool temporary = false;
    auto server = linuxhost::OpenImapAtStart(account, temporary);
    if (!server && !temporary) return kExitConfig;
    CommandRuntime runtime({folder.string(), std::nullopt});
    runtime.NameMailbox("The IMAP account " + account.url);
    if (const auto failed = runtime.StartArchiving()) return *failed;
    PrintWatching(account.url);
    return Finish(runtime, linuxhost::WatchImap(runtime, account, std::move(server), signals, PrintLines(quiet)));
}

}  // namespace

int RunWatch(const Args& args) {
    std::vector<OptionRule> rules = ImapOptionRules();
    rules.insert(rules.end(), {{"maildir", true}, {"quiet", false, 'q'}});
    const ParsedOptions options = ParseOptions(args, rules);
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    const bool quiet = options.Has("quiet");
    if (const auto account = ImapAccountOf(options)) return RunImapWatch(*account, quiet);

    // The signals are taken as events, so a shutdown never interrupts the archive mid-store.
    linuxhost::WatchSignals signals;

    const std::filesystem::path inbox = linuxhost::MaildirPath(options.Value("maildir"));
    // A missing Maildir is waited for rather than fixed: the first delivery creates it, a file
    // system mounted late or a mailbox being moved brings it back.
    if (!maildir::IsMaildir(inbox)) {
        std::fprintf(stderr, "vexa watch: the Maildir %s is missing; exiting so that the service tries again later\n",
                     inbox.c_str());
        return kExitTempFail;
    }
    CommandRuntime runtime({options.Value("maildir"), std::nullopt});
    if (const auto failed = runtime.StartArchiving()) return *failed;
    const WatchEnd end =
        linuxhost::WatchMaildir(runtime, inbox, signals, PrintLines(quiet), [&] { PrintWatching(inbox.string()); });
    if (end == WatchEnd::MaildirGone) return MaildirGone(inbox);
    return Finish(runtime, end);
}

}  // namespace vexa::cli
