// Group commit for the commands that archive many messages in a row (scan, and watch after a
// burst of deliveries). The arrivals are still raised one at a time, in Inbox order, and each
// store still commits or fails whole; but the rows of a group are made durable by one commit of
// the archive, the group's attachment files by one sync just before it, and the group's messages
// leave the Inbox only after it. A crash at any moment loses nothing: what was not committed is
// still in the Inbox and is archived at the next run. A group ends after a number of messages or
// a tenth of a second, so a watcher holds a delivered fax back for no longer than that; a scan,
// which no one follows fax by fax, lets a group grow for up to a second, so that a large Inbox
// pays for fewer syncs while a viewer waiting for the archive still gets its turn soon.
//
// Between the commit and the moves the Maildir session's journal stands for the group: written
// before the commit, replayed before the first arrival of the next group after a crash or a
// failed move, so that a committed fax is never archived again. A commit that fails has an
// unknown outcome (an I/O error may come after the commit reached the disk): the group's files
// keep their pending names and its journal entries stay, both resolved from the archive at the
// next start, and this run archives nothing more.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <vector>

#include "linux/inbox_arrivals.h"
#include "linux/runtime.h"

namespace vexa::linuxhost {

class ArrivalGroup {
public:
    enum class Pace { Watched, Scan };
    explicit ArrivalGroup(Runtime& runtime, Pace pace = Pace::Watched) : runtime_(runtime), pace_(pace) {}
    ArrivalGroup(const ArrivalGroup&) = delete;
    ArrivalGroup& operator=(const ArrivalGroup&) = delete;
    // A group still open is committed.
    ~ArrivalGroup();

    // Replays what an earlier group's journal left, before the Inbox is listed; false (after
    // saying why) when it cannot, and then nothing is archived. Handle replays first when this
    // was not called or failed.
    bool Replay();
    // Raises the arrival of `file` as HandleArrival does, in the open group (one is opened when
    // none is). Its outcome is known once the group is committed; what it says now is whether the
    // archive could take it (archiveLost).
    const HandledArrival& Handle(const std::filesystem::path& file, bool includeRead);
    // True when the open group is full or old enough to be committed now.
    bool Due() const;
    // True once a commit failed: the archive is checked at the next start, and until then
    // nothing more is archived.
    bool OutcomeUnknown() const { return outcomeUnknown_; }
    // Commits the open group and returns what became of its arrivals, in order: when the archive
    // or the disk refused the group, its stores count as failed (their messages stay in the Inbox
    // and arrive again) and the reason is shown.
    std::vector<HandledArrival> Commit();

private:
    void Begin();
    void Abort(const std::string& reason);
    void Leave(const std::string& reason);
    // The group's stores count as failed: "`before`N`after`" and the session's `failures` shown.
    void Report(const std::vector<std::string>& failures, const std::string& before, const std::string& after);

    Runtime& runtime_;
    const Pace pace_;
    std::vector<HandledArrival> handled_;
    std::optional<std::chrono::steady_clock::time_point> openedAt_;
    bool replayed_ = false;
    bool outcomeUnknown_ = false;
};

}  // namespace vexa::linuxhost
