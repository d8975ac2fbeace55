// vexa scan: the Inbox arrival for every message now in the Inbox whose arrival is due, oldest
// first, with a summary. A message whose arrival was raised before (by a scan or a watch) is not
// raised again; --include-read also raises read messages, to backfill an old mailbox.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include <unistd.h>

#include "apps/vexa/arrival_group.h"
#include "apps/vexa/cli.h"
#include "apps/vexa/inbox_arrivals.h"
#include "apps/vexa/option_parser.h"
#include "apps/vexa/runtime.h"

namespace vexa::cli {
namespace {

// A progress line is worth its noise only on a terminal and for a long scan.
constexpr std::size_t kProgressFrom = 20;

}  // namespace

int RunScan(const Args& args) {
    const ParsedOptions options = ParseOptions(args, {{"maildir", true}, {"include-read", false}});
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    const bool includeRead = options.Has("include-read");
    Runtime runtime({options.Value("maildir"), std::nullopt});
    if (!runtime.Connect()) return kExitConfig;
    if (!runtime.LockForArchiving()) return kExitTempFail;

    const auto due = std::make_shared<const std::vector<std::filesystem::path>>(runtime.Session().DueArrivals(includeRead));
    const auto& files = *due;
    runtime.Session().ReadAheadOf(due, runtime.AttachFolder());
    const bool progress = ::isatty(STDERR_FILENO) && files.size() >= kProgressFrom;
    int incoming = 0, confirmations = 0, unmatched = 0, leftAlone = 0, failed = 0;
    const auto count = [&](const std::vector<HandledArrival>& group) {
        for (const HandledArrival& handled : group) {
            switch (handled.result) {
                case ArrivalResult::Incoming: ++incoming; break;
                case ArrivalResult::Confirmation: ++confirmations; break;
                case ArrivalResult::Unmatched: ++unmatched; break;
                case ArrivalResult::LeftAlone: ++leftAlone; break;
                case ArrivalResult::Failed: ++failed; break;
                case ArrivalResult::NotDue: break;
            }
        }
    };
    {
        ArrivalGroup group(runtime);
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (progress) {
                std::fprintf(stderr, "\rScanning %zu/%zu", i + 1, files.size());
                std::fflush(stderr);
                runtime.Messages().SetProgressLine(true);
            }
            group.Handle(files[i], includeRead);
            if (group.Due()) count(group.Commit());
        }
        count(group.Commit());
    }
    runtime.Session().EndReadAhead();
    if (progress) std::fputs("\r\033[K", stderr);
    runtime.Messages().SetProgressLine(false);
    runtime.Shutdown();
    std::printf("%d archived as incoming faxes, %d as confirmations, %d confirmations matched no fax, "
                "%d left alone, %d failed\n",
                incoming, confirmations, unmatched, leftAlone, failed);
    return runtime.ExitStatus();
}

}  // namespace vexa::cli
