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
// The due messages are listed and read ahead this many at a time.
constexpr std::size_t kPieceSize = 4096;

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
      retry_(ScheduleFor(kind)),
      keepArchived_(kind == MailboxKind::Imap) {}

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
    maildir::MaildirSession& session = runtime_.Session();
    std::optional<maildir::MaildirSession::DuePlace> after;
    std::size_t raised = 0;
    bool progress = false;
    // The Inbox is listed again for each piece: a message delivered meanwhile is raised in this
    // pass when it is newer than the piece before.
    while (!Stopped()) {
        auto piece = session.DueArrivals(includeRead, after, kPieceSize);
        if (piece.names.empty()) break;
        if (raised == 0) progress = mayShowProgress && ::isatty(STDERR_FILENO) && piece.remaining >= kProgressFrom;
        after = std::move(piece.last);
        const auto names = std::make_shared<const std::vector<std::filesystem::path>>(std::move(piece.names));
        session.ReadAheadOf(names, runtime_.AttachFolder());
        raised += ArriveAll(*names, includeRead, progress ? raised + piece.remaining : 0, raised);
        Commit();
        session.EndReadAhead();
        if (names->size() < kPieceSize) break;
    }
    if (progress) std::fputs("\r\033[K", stderr);
    runtime_.Messages().SetProgressLine(false);
    return raised;
}

std::size_t ArchivingLoop::ArriveAll(const std::vector<std::filesystem::path>& files, bool includeRead, std::size_t total,
                                     std::size_t before) {
    std::size_t i = 0;
    for (; i < files.size() && !Stopped(); ++i) {
        if (total > 0) {
            std::fprintf(stderr, "\rScanning %zu/%zu", before + i + 1, total);
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
        if (keepArchived_ && (arrival.result == ArrivalResult::Incoming || arrival.result == ArrivalResult::Confirmation))
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
