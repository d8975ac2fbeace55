// Group commit for the commands that archive many messages in a row (scan, and watch after a
// burst of deliveries). The arrivals are still raised one at a time, in Inbox order, and each
// store still commits or fails whole; but the rows of a group are made durable by one commit of
// the archive, the group's attachment files by one sync just before it, and the group's messages
// leave the Inbox only after it. A crash at any moment loses nothing: what was not committed is
// still in the Inbox and is archived at the next run. A group ends after a number of messages or
// a tenth of a second, so a watcher holds a delivered fax back for no longer than that.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <vector>

#include "apps/vexa/inbox_arrivals.h"
#include "apps/vexa/runtime.h"

namespace vexa::cli {

class ArrivalGroup {
public:
    explicit ArrivalGroup(Runtime& runtime) : runtime_(runtime) {}
    ArrivalGroup(const ArrivalGroup&) = delete;
    ArrivalGroup& operator=(const ArrivalGroup&) = delete;
    // A group still open is committed.
    ~ArrivalGroup();

    // Raises the arrival of `file` as HandleArrival does, in the open group (one is opened when
    // none is). Its outcome is known once the group is committed.
    void Handle(const std::filesystem::path& file, bool includeRead);
    // True when the open group is full or old enough to be committed now.
    bool Due() const;
    // True when the last arrival could not reach the archive's server: stop for now.
    bool ArchiveLost() const { return !handled_.empty() && handled_.back().archiveLost; }
    // Commits the open group and returns what became of its arrivals, in order: when the archive
    // or the disk refused the group, its stores count as failed (their messages stay in the Inbox
    // and arrive again) and the reason is shown.
    std::vector<HandledArrival> Commit();

private:
    void Begin();
    void Abort(const std::string& reason);

    Runtime& runtime_;
    std::vector<HandledArrival> handled_;
    std::optional<std::chrono::steady_clock::time_point> openedAt_;
};

}  // namespace vexa::cli
