// The one archiving loop of `vexa scan` and `vexa watch`, over a Maildir and over the mirror of an
// IMAP Inbox. It owns what they share: the due messages, raised oldest first in groups that commit
// together (ArrivalGroup); the stop when the archive cannot take more for now (its server out of
// reach, a store that failed for a passing reason) with the pauses before the next try; the stop
// for the run when a commit's outcome is unknown (the next start reads it back from the archive);
// the reading of a failure; and the tally of what became of the arrivals.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "host/retry_schedule.h"
#include "linux/arrival_group.h"
#include "linux/inbox_arrivals.h"
#include "linux/runtime.h"
#include "linux/scan_tally.h"

namespace vexa::linuxhost {

// Where the messages come from, which sets how soon a lost archive or server is tried again.
enum class MailboxKind { Maildir, Imap };

// What a scan leaves: its tally, and whether it stopped with messages still due for a later try.
struct ScanResult {
    ScanTally tally;
    bool stopped = false;
};

// How a watch ended.
enum class WatchEnd {
    Stopped,         // SIGTERM or SIGINT: a clean shutdown
    OutcomeUnknown,  // a commit's outcome is unknown: the next start reads it back
    MaildirGone,     // the watched Maildir was deleted, moved or unmounted
};

class ArchivingLoop {
public:
    using Clock = std::chrono::steady_clock;
    // Hears of each arrival once its group is committed (a watcher's lines).
    using Committed = std::function<void(const HandledArrival&)>;

    ArchivingLoop(Runtime& runtime, MailboxKind kind, Committed committed = {});

    // Resolves what the last group's journal left, before the Inbox is listed; false (after
    // saying why, and with the archive lost for now) when it cannot.
    bool Replay();
    // One pass over the Inbox: the journal replayed, then every message whose arrival is due
    // (`includeRead`: read ones too), with a progress line on a terminal for a long one, and the
    // last group committed. False when it stopped with messages still due.
    bool Pass(bool includeRead);
    // A watcher's pass: the due messages of the Inbox raised as though each had just arrived,
    // and their group committed; false when none was raised.
    bool ArriveDue();
    // Raises the arrival of `file` unless archiving stopped; the group is committed when it is
    // full or old enough, or when the archive could not take the message.
    void Arrive(const std::filesystem::path& file, bool includeRead = false);
    // Commits the open group: its arrivals go to the tally and to `committed`.
    void Commit();

    // Inside a catch block: shows the failure being handled. One that leaves a commit's outcome
    // unknown stops the run; one that may pass stops archiving until the next try.
    void Failed();
    // Stops archiving until the next try, after the next pause of the schedule.
    void StopForNow();
    // True, once, when the pause is over: archiving goes on and the due messages are tried again.
    bool RetryDue();
    // Archiving goes on now, whatever is left of the pause.
    void Resume() { retryAt_.reset(); }
    // The archive (or the mailbox's server) answered again: the next stop waits the first pause.
    void Answered() { retry_.Reset(); }

    // True while the archive cannot take more: the messages stay due until RetryAt.
    bool ArchiveLost() const { return retryAt_.has_value(); }
    // True once a commit's outcome is unknown: nothing more is archived in this run.
    bool OutcomeUnknown() const { return outcomeUnknown_ || group_.OutcomeUnknown(); }
    // Either: what is still due waits for a later try (the scan's exit status 75).
    bool Stopped() const { return ArchiveLost() || OutcomeUnknown(); }
    std::optional<Clock::time_point> RetryAt() const { return retryAt_; }
    const ScanTally& Tally() const { return tally_; }
    // The unique names of the messages archived (as faxes or confirmations) since the last call:
    // the IMAP host records them on the server (a Maildir's loop keeps none).
    std::set<std::string> TakeArchived() { return std::exchange(archived_, {}); }

private:
    // Lists the due messages, raises them (`mayShowProgress`: with a progress line on a terminal
    // for a long list) and commits; how many it raised.
    std::size_t RaiseDue(bool includeRead, bool mayShowProgress);
    // Raises `files` in order until archiving stops; how many it raised. With a `total`, a
    // progress line counts them on from `before`.
    std::size_t ArriveAll(const std::vector<std::filesystem::path>& files, bool includeRead, std::size_t total,
                          std::size_t before);

    Runtime& runtime_;
    Committed committed_;
    ArrivalGroup group_;
    RetrySchedule retry_;
    std::optional<Clock::time_point> retryAt_;
    bool outcomeUnknown_ = false;
    ScanTally tally_;
    bool keepArchived_;
    std::set<std::string> archived_;
};

}  // namespace vexa::linuxhost
