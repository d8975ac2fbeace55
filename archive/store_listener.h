// Who hears what a store procedure did. Outlook needs no one: it sees the outcome in the mail
// (moved, tagged, or still in the Inbox) and in the message boxes. A host that reports on its own
// (the Linux command's scan summary, its line per archived message, why a send was stopped) gets
// the answer from the procedure itself here, instead of guessing it from the add-in's state or by
// counting message boxes. Each procedure reports once, where it finishes, whichever way it does.
#pragma once

#include <cstdint>
#include <string>

#include "archive/store_outcome.h"
#include "recognition/classification.h"

namespace vexa {

struct StoreReport {
    // mkIncoming (StoreInMessage), mkOutgoing (StoreOutMessage) or mkConfirmation (StoreConfirm).
    MessageKind kind;
    StoreOutcome outcome;
    // The row the store wrote: the recv or send row of a fax, or the send row a confirmation
    // marked; 0 when it wrote none (a confirmation whose tag names no row of ours, a failure).
    std::int64_t row = 0;
    // The stored file's name for a fax ("" for a sent fax without a document); the word the row
    // was marked with for a confirmation.
    std::string detail;
    // A failure that lies with the machine or the archive's server, not with the mail (a full
    // disk, an I/O error, a server out of reach): the same mail may be stored later.
    bool transient = false;
    // The commit failed without saying whether it took effect: `row` and `detail` name the row
    // and the stored file it would have made, for the host to read the outcome back later.
    bool outcomeUnknown = false;
    // A received fax another mailbox's copy of the same mail had archived already: `row` holds it,
    // and the mail is cleaned up as archived.
    bool alreadyArchived = false;
};

class StoreListener {
public:
    virtual ~StoreListener() = default;
    // Called on the add-in's thread before the procedure returns; must not throw.
    virtual void Stored(const StoreReport& report) noexcept = 0;
};

}  // namespace vexa
