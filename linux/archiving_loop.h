// One pass over the Inbox as `vexa scan` makes it: every message whose arrival is due, oldest
// first, raised in groups that commit together, with a progress line on a terminal; and the
// tally the scan's summary line gives.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "linux/inbox_arrivals.h"
#include "linux/runtime.h"

namespace vexa::linuxhost {

struct ScanTally {
    int incoming = 0, confirmations = 0, unmatched = 0, leftAlone = 0, failed = 0;
    // The archive's server could not be reached, or a store failed for a passing reason: the pass
    // stopped, the rest is still due.
    bool archiveLost = false;
    // A commit failed and its outcome is read back at the next start: nothing more is archived
    // in this run.
    bool outcomeUnknown = false;
    void Add(const std::vector<HandledArrival>& handled);
    // "N archived as incoming faxes, ..., N failed".
    std::string Summary() const;
};

// Raises the arrival of every due message of the runtime's Inbox; `includeRead` makes read ones
// due. `committed` hears of each arrival once its group is committed (a watcher's lines).
void ArchiveDue(Runtime& runtime, bool includeRead, ScanTally& tally,
                const std::function<void(const HandledArrival&)>& committed = {});

}  // namespace vexa::linuxhost
