#include "apps/vexa/scan_pass.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include <unistd.h>

#include "apps/vexa/arrival_group.h"

namespace vexa::cli {
namespace {

// A progress line is worth its noise only on a terminal and for a long scan.
constexpr std::size_t kProgressFrom = 20;

}  // namespace

void ScanTally::Add(const std::vector<HandledArrival>& handled) {
    for (const HandledArrival& arrival : handled) {
        switch (arrival.result) {
            case ArrivalResult::Incoming: ++incoming; break;
            case ArrivalResult::Confirmation: ++confirmations; break;
            case ArrivalResult::Unmatched: ++unmatched; break;
            case ArrivalResult::LeftAlone: ++leftAlone; break;
            case ArrivalResult::Failed: ++failed; break;
            case ArrivalResult::NotDue: break;
        }
    }
}

std::string ScanTally::Summary() const {
    return std::to_string(incoming) + " archived as incoming faxes, " + std::to_string(confirmations) +
           " as confirmations, " + std::to_string(unmatched) + " confirmations matched no fax, " +
           std::to_string(leftAlone) + " left alone, " + std::to_string(failed) + " failed";
}

void ArchiveDue(Runtime& runtime, bool includeRead, ScanTally& tally,
                const std::function<void(const HandledArrival&)>& committed) {
    const auto add = [&](const std::vector<HandledArrival>& handled) {
        tally.Add(handled);
        if (committed) {
            for (const HandledArrival& arrival : handled) committed(arrival);
        }
    };
    // Lines printed per arrival are a watcher's: its faxes are not held back for a full group.
    ArrivalGroup group(runtime, committed ? ArrivalGroup::Pace::Watched : ArrivalGroup::Pace::Scan);
    if (!group.Replay()) {
        tally.archiveLost = true;
        return;
    }
    const auto due = std::make_shared<const std::vector<std::filesystem::path>>(runtime.Session().DueArrivals(includeRead));
    const auto& files = *due;
    runtime.Session().ReadAheadOf(due, runtime.AttachFolder());
    const bool progress = ::isatty(STDERR_FILENO) && files.size() >= kProgressFrom;
    {
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (progress) {
                std::fprintf(stderr, "\rScanning %zu/%zu", i + 1, files.size());
                std::fflush(stderr);
                runtime.Messages().SetProgressLine(true);
            }
            group.Handle(files[i], includeRead);
            if (group.ArchiveLost()) {
                tally.archiveLost = true;
                break;
            }
            if (group.Due()) add(group.Commit());
            if (group.OutcomeUnknown()) break;
        }
        add(group.Commit());
        if (group.OutcomeUnknown()) tally.archiveLost = tally.outcomeUnknown = true;
    }
    runtime.Session().EndReadAhead();
    if (progress) std::fputs("\r\033[K", stderr);
    runtime.Messages().SetProgressLine(false);
}

}  // namespace vexa::cli
