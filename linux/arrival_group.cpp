#include "linux/arrival_group.h"

#include <string>
#include <utility>

#include "host/host_error.h"

namespace vexa::linuxhost {
namespace {

// The files of a group stay open until its sync; a group stays well within the descriptors a
// process may hold, and one sync per this many faxes is most of what there is to gain.
constexpr std::size_t kMostArrivals = 200;
// A fax delivered while `vexa watch` runs waits for the group's commit at most about this long.
constexpr auto kLongestWatched = std::chrono::milliseconds(100);
// A scan's group holds the archive's write lock this long at most: well within what a viewer
// waits for it (the archive's busy timeout).
constexpr auto kLongestScan = std::chrono::seconds(1);

bool Stored(const HandledArrival& handled) {
    return handled.result == ArrivalResult::Incoming || handled.result == ArrivalResult::Confirmation ||
           handled.result == ArrivalResult::Unmatched;
}

}  // namespace

ArrivalGroup::~ArrivalGroup() {
    try {
        Commit();
    } catch (...) {
        // Commit reports its own failures; an uncommitted group is rolled back by the archive.
    }
}

void ArrivalGroup::Begin() {
    runtime_.Archive().BeginGroup();
    runtime_.Files().BeginGroup();
    runtime_.Session().BeginGroup();
    openedAt_ = std::chrono::steady_clock::now();
}

bool ArrivalGroup::Replay() {
    try {
        const auto failures = runtime_.Session().ReplayJournal(
            [this](const std::vector<std::string>& fileIds) { return runtime_.Addin().StoredFilesCommitted(fileIds); });
        for (const std::string& failure : failures) runtime_.Messages().Show(failure, kAppTitle);
        replayed_ = true;
    } catch (...) {
        runtime_.Messages().Show("Nothing is archived until the journal of the last group is resolved: " +
                                     CurrentErrorDescription(),
                                 kAppTitle);
    }
    return replayed_;
}

const HandledArrival& ArrivalGroup::Handle(const std::filesystem::path& file, bool includeRead) {
    if (outcomeUnknown_ || (!replayed_ && !Replay())) {
        // Not raised: the message stays due, and the command stops archiving for now.
        HandledArrival later;
        later.archiveLost = true;
        return handled_.emplace_back(std::move(later));
    }
    if (!openedAt_) {
        try {
            Begin();
        } catch (...) {
            // The archive is busy or gone: the arrival is handled on its own, committed by its store.
            runtime_.Archive().AbortGroup();
            runtime_.Files().AbortGroup();
            runtime_.Session().AbortGroup();
        }
    }
    const HandledArrival& handled = handled_.emplace_back(HandleArrival(runtime_, file, includeRead));
    // Its row is read back before anything more is archived.
    if (handled.outcomeUnknown) replayed_ = false;
    return handled;
}

bool ArrivalGroup::Due() const {
    const std::chrono::steady_clock::duration longest = pace_ == Pace::Scan ? kLongestScan : kLongestWatched;
    return openedAt_ && (handled_.size() >= kMostArrivals || std::chrono::steady_clock::now() - *openedAt_ >= longest);
}

std::vector<HandledArrival> ArrivalGroup::Commit() {
    if (openedAt_) {
        openedAt_.reset();
        try {
            // The files first: a committed row never names a file that a crash could lose. Then
            // the journal, which stands for the moves until they are done.
            runtime_.Files().SyncGroup();
            std::vector<maildir::MaildirSession::StoredArrival> stored;
            for (const HandledArrival& handled : handled_) {
                if (handled.result == ArrivalResult::Incoming && !handled.detail.empty()) {
                    stored.push_back({handled.unique, handled.detail});
                }
            }
            runtime_.Session().JournalGroup(stored);
        } catch (...) {
            Abort(CurrentErrorDescription());
            return std::exchange(handled_, {});
        }
        try {
            runtime_.Archive().CommitGroup();
        } catch (...) {
            Leave(CurrentErrorDescription());
            return std::exchange(handled_, {});
        }
        runtime_.Files().FinishGroup();
        for (const std::string& failure : runtime_.Session().FinishGroup()) runtime_.Messages().Show(failure, kAppTitle);
    }
    return std::exchange(handled_, {});
}

void ArrivalGroup::Leave(const std::string& reason) {
    outcomeUnknown_ = true;
    runtime_.Archive().AbortGroup();
    // The files keep their pending names: the next start names them or removes them, as their
    // rows say.
    runtime_.Files().LeaveGroup();
    Report(runtime_.Session().LeaveGroup(), "The archive did not confirm the last ",
           " messages: " + reason + ". Nothing more is archived now; the next run checks which of them were archived.");
}

void ArrivalGroup::Abort(const std::string& reason) {
    runtime_.Archive().AbortGroup();
    runtime_.Files().AbortGroup();
    // Rolled back: a stored message kept in the Inbox must not stay recorded as handled.
    for (const HandledArrival& handled : handled_) {
        if (!Stored(handled)) continue;
        try {
            runtime_.Session().ForgetArrival(handled.unique);
        } catch (...) {
            runtime_.Messages().Show(CurrentErrorDescription(), kAppTitle);
        }
    }
    Report(runtime_.Session().AbortGroup(), "The archive did not take the last ",
           " messages, which stay in the Inbox: " + reason);
}

void ArrivalGroup::Report(const std::vector<std::string>& failures, const std::string& before, const std::string& after) {
    int stored = 0;
    for (auto& handled : handled_) {
        if (!Stored(handled)) continue;
        handled.result = ArrivalResult::Failed;
        ++stored;
    }
    runtime_.Messages().Show(before + std::to_string(stored) + after, kAppTitle);
    for (const std::string& failure : failures) runtime_.Messages().Show(failure, kAppTitle);
}

}  // namespace vexa::linuxhost
