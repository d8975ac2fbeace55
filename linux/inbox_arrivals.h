// One Inbox message's arrival as `vexa scan` and `vexa watch` handle it: raised once (the
// session decides whether it is due), every message shown meanwhile naming the mail, and what
// became of it, for the scan's summary and the watch's line per archived message.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "linux/runtime.h"

namespace vexa::linuxhost {

enum class ArrivalResult {
    NotDue,        // raised before, read, or gone from the Inbox: nothing happened
    Incoming,      // archived as an incoming fax
    Confirmation,  // a confirmation that marked its fax's row
    Unmatched,     // a confirmation that matched no row of ours
    LeftAlone,     // not the service's traffic
    Failed,        // a failure was shown
};

struct HandledArrival {
    ArrivalResult result = ArrivalResult::NotDue;
    std::int64_t row = 0;
    std::string detail;  // the stored file's name, or the word a confirmation marked its row with
    std::string subject;
    std::string unique;  // the message's unique name part, for the group's journal
    // The archive's server could not be reached, or the store failed for a reason that may pass
    // (no space, an I/O error): the message was left due, to be archived later, and the command
    // stops archiving for now.
    bool archiveLost = false;
    // Its store's commit has an unknown outcome: the message waits in the journal until the
    // archive says whether its row is there.
    bool outcomeUnknown = false;
    // An incoming fax another mailbox's copy had archived already, in `row`.
    bool alreadyArchived = false;
};

// Raises the arrival of the Inbox message `file` when it is due; `includeRead` makes read
// messages due as well.
HandledArrival HandleArrival(Runtime& runtime, const std::filesystem::path& file, bool includeRead);

// The watch's line for an archived message ("incoming fax R0000003.tif row 3: SUBJECT"), or ""
// when nothing was archived.
std::string ArrivalLine(const HandledArrival& handled);

}  // namespace vexa::linuxhost
