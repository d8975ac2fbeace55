// What a store procedure tells its caller: whether the message was archived, needed nothing,
// was cancelled by the user, or failed (and the failure was shown). Only a message whose store
// did not fail may leave the Inbox.
#pragma once

namespace vexa {

enum class StoreOutcome {
    Stored,     // the archive holds the message now
    Unchanged,  // nothing to do for it, silently (a confirmation without outcome or usable tag)
    Cancelled,  // the user cancelled the description prompt
    Failed,     // a failure was shown to the user; the archive is as it was
};

}  // namespace vexa
