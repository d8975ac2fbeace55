// What became of the arrivals of a run, counted as the scan's summary line gives them.
#pragma once

#include <string>
#include <vector>

#include "linux/inbox_arrivals.h"

namespace vexa::linuxhost {

struct ScanTally {
    int incoming = 0, confirmations = 0, unmatched = 0, leftAlone = 0, failed = 0;
    void Add(const std::vector<HandledArrival>& handled);
    // "N archived as incoming faxes, ..., N failed".
    std::string Summary() const;
};

}  // namespace vexa::linuxhost
