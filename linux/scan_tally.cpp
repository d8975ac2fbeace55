#include "linux/scan_tally.h"

namespace vexa::linuxhost {

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

}  // namespace vexa::linuxhost
