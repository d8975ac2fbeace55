#include "linux/archiving_loop.h"

#include <cstdio>
#include <memory>
#include <utility>

#include <unistd.h>

#include "host/host_error.h"

namespace vexa::linuxhost {
namespace {

// A progress line is worth its noise only on a terminal and for a long scan.
constexpr std::size_t kProgressFrom = 20;

// The pauses while the archive or the mailbox's server cannot be reached, doubling up to five
// minutes. A lost IMAP server is dialled again after a second (a dropped connection mostly comes
// back at once); a watched Maildir waits five, since what is lost then is the archive's server.
RetrySchedule ScheduleFor(MailboxKind kind) {
    const auto first = kind == MailboxKind::Imap ? std::chrono::seconds(1) : std::chrono::seconds(5);
    return RetrySchedule(first, std::chrono::minutes(5));
}

}  // namespace

ArchivingLoop::ArchivingLoop(Runtime& runtime, MailboxKind kind, Committed committed)
    // Lines printed per arrival are a watcher's: its faxes are not held back for a scan's long group.
    : runtime_(runtime),
      committed_(std::move(committed)),
      group_(runtime, committed_ ? ArrivalGroup::Pace::Watched : ArrivalGroup::Pace::Scan),
      retry_(ScheduleFor(kind)) {}

bool ArchivingLoop::Replay() {
    if (group_.Replay()) return true;
    StopForNow();
    return false;
}

bool ArchivingLoop::Pass(bool includeRead) {
    if (!Replay()) return false;
    RaiseDue(includeRead, true);
    return !Stopped();
}

bool ArchivingLoop::ArriveDue() { return RaiseDue(false, false) > 0; }

std::size_t ArchivingLoop::RaiseDue(bool includeRead, bool mayShowProgress) {
    const auto due = std::make_shared<const std::vector<std::filesystem::path>>(runtime_.Session().DueArrivals(includeRead));
    runtime_.Session().ReadAheadOf(due, runtime_.AttachFolder());
    const bool progress = mayShowProgress && ::isatty(STDERR_FILENO) && due->size() >= kProgressFrom;
    const std::size_t raised = ArriveAll(*due, includeRead, progress);
    Commit();
    runtime_.Session().EndReadAhead();
    if (progress) std::fputs("\r\033[K", stderr);
    runtime_.Messages().SetProgressLine(false);
    return raised;
}

std::size_t ArchivingLoop::ArriveAll(const std::vector<std::filesystem::path>& files, bool includeRead, bool progress) {
    std::size_t i = 0;
    for (; i < files.size() && !Stopped(); ++i) {
        if (progress) {
            std::fprintf(stderr, "\rScanning %zu/%zu", i + 1, files.size());
            std::fflush(stderr);
            runtime_.Messages().SetProgressLine(true);
        }
        Arrive(files[i], includeRead);
    }
    return i;
}

void ArchivingLoop::Arrive(const std::filesystem::path& file, bool includeRead) {
    if (ArchiveLost()) return;
    if (group_.Handle(file, includeRead).archiveLost) {
        // The message stays due; what the group holds is committed before the pause.
        StopForNow();
        Commit();
        return;
    }
    if (group_.Due()) Commit();
}

void ArchivingLoop::Commit() {
    const std::vector<HandledArrival> handled = group_.Commit();
    tally_.Add(handled);
    for (const HandledArrival& arrival : handled) {
        if (arrival.result == ArrivalResult::Incoming || arrival.result == ArrivalResult::Confirmation)
            archived_.insert(arrival.unique);
    }
    if (!committed_) return;
    for (const HandledArrival& arrival : handled) committed_(arrival);
}

void ArchivingLoop::Failed() {
    runtime_.Messages().Show(CurrentErrorDescription(), kAppTitle);
    if (CurrentErrorOutcomeUnknown()) outcomeUnknown_ = true;
    if (CurrentErrorTransient()) StopForNow();
}

void ArchivingLoop::StopForNow() {
    if (!retryAt_) retryAt_ = Clock::now() + retry_.Next();
}

bool ArchivingLoop::RetryDue() {
    if (!retryAt_ || Clock::now() < *retryAt_) return false;
    Resume();
    return true;
}

}  // namespace vexa::linuxhost
