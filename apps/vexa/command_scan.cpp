// vexa scan: the Inbox arrival for every message now in the Inbox, oldest first, with a summary.

#include <cstdio>

#include <unistd.h>

#include "apps/vexa/cli.h"
#include "apps/vexa/option_parser.h"
#include "apps/vexa/runtime.h"

namespace vexa::cli {
namespace {

// A progress line is worth its noise only on a terminal and for a long scan.
constexpr std::size_t kProgressFrom = 20;

}  // namespace

int RunScan(const Args& args) {
    const ParsedOptions options = ParseOptions(args, {{"maildir", true}});
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    Runtime runtime({options.Value("maildir"), std::nullopt});
    if (!runtime.Connect()) return kExitConfig;
    if (!runtime.LockForArchiving()) return kExitTempFail;

    const auto files = runtime.Session().InboxMessages();
    const bool progress = ::isatty(STDERR_FILENO) && files.size() >= kProgressFrom;
    int incoming = 0, confirmations = 0, leftAlone = 0, failed = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (progress) {
            std::fprintf(stderr, "\rScanning %zu/%zu", i + 1, files.size());
            std::fflush(stderr);
        }
        try {
            runtime.Session().RaiseItemAdd(files[i]);
        } catch (...) {
            // The message went away between the listing and now, or cannot be read at all.
            if (progress) std::fputs("\r\033[K", stderr);
            runtime.Messages().Show(files[i].string() + ": " + CurrentErrorDescription(), kAppTitle);
            ++failed;
            continue;
        }
        const auto& report = runtime.Addin().LastArrival();
        if (!report) {
            ++leftAlone;
        } else if (report->outcome == StoreOutcome::Failed) {
            ++failed;
        } else if (report->kind == MessageKind::mkIncoming) {
            ++incoming;
        } else {
            ++confirmations;
        }
    }
    if (progress) std::fputs("\r\033[K", stderr);
    runtime.Shutdown();
    std::printf("%d archived as incoming faxes, %d as confirmations, %d left alone, %d failed\n", incoming,
                confirmations, leftAlone, failed);
    return runtime.ExitStatus();
}

}  // namespace vexa::cli
