// What the add-in's store procedures reported to the Linux host during the event a command has
// just raised: the kind and outcome of the store, the row and the file. The scan's summary, the
// watch's line per archived message and the reason a send was stopped are taken from here. A
// command takes the report after each event it raises, so one event's report never passes for
// the next's; an event that stored nothing leaves none.
#pragma once

#include <optional>
#include <utility>

#include "archive/store_listener.h"

namespace vexa::linuxhost {

class StoreReports final : public StoreListener {
public:
    void Stored(const StoreReport& report) noexcept override { last_ = report; }
    // The report of the last store since the previous Take, if any; forgets it.
    std::optional<StoreReport> Take() noexcept { return std::exchange(last_, std::nullopt); }

private:
    std::optional<StoreReport> last_;
};

}  // namespace vexa::linuxhost
