// The road every outgoing mail takes, whichever door it came in by (vexa send's standard input,
// the relay's DATA): its X-Fax-Description: field taken out, the mail classified with the local
// settings, a fax archived and its subject tagged by the send event, then the mail handed on by
// the caller, and a recorded fax taken out again when the hand-on fails. One road, so that the
// sendmail and the relay can never treat a mail differently.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "apps/vexa/command_runtime.h"
#include "apps/vexa/mail_classifier.h"

namespace vexa::cli {

// What handing the mail on came to.
struct HandOnOutcome {
    bool delivered = false;
    // Failed, but the mail may have left all the same (the connection broke before the answer):
    // a recorded fax then stays, since nothing may leave unrecorded.
    bool mayHaveLeft = false;
    std::string reason;  // when not delivered: what happened, in words
};

// Hands `message` on: the bytes to send, the mail as received when nothing in it changed. It
// reports failures in its outcome; an exception it throws counts as a failure with its words.
using HandOn = std::function<HandOnOutcome(const std::string& message)>;

struct OutgoingOptions {
    CommandRuntime::Options runtime;
    // The description when neither runtime.description nor the mail's field gives one; without
    // it the add-in may prompt (vexa send on a terminal). The relay never prompts.
    std::optional<std::string> fallbackDescription;
    // Held while the archive is used (the runtime is not for two threads at once), released
    // while the mail is handed on; none: a single-threaded caller.
    std::mutex* archiveLock = nullptr;
    // The recipients the mail goes to, when the mail program said so apart from the message (the
    // SMTP envelope): those no field names are its blind copies. None: the message's fields.
    std::optional<std::vector<std::string>> envelope;
    // Tells a fax by the settings and the envelope before the archive is opened, so that ordinary
    // mail is handed on without opening it (the relay, which would otherwise open the archive for
    // every mail); nothing is said then about an installation that cannot start. None: every
    // mail takes the whole road, as the send event sees it.
    MailClassifier* classifier = nullptr;
};

struct OutgoingResult {
    enum class Stage {
        HandedOn,            // the hand-on ran: see handOn
        ArchiveUnreachable,  // a fax, and the archive cannot be reached: not handed on
        NotRecorded,         // a fax the archive could not record: not handed on
        Cancelled,           // the description prompt was cancelled: not handed on
        UnrecordedFax,       // to the gateway, but no fax the add-in records: not handed on
    };
    Stage stage = Stage::HandedOn;
    HandOnOutcome handOn;
    std::optional<std::int64_t> fax;  // the row of the fax recorded
    // After a failed hand-on of a recorded fax: whether its row was taken out again, and why not.
    bool withdrawn = false;
    std::string withdrawalError;
    // Vexa is not initialised: the mail went out unrecorded (only ordinary mail could be told).
    bool uninitialized = false;
};

// Takes the mail program's message `input` down the road, handing it on through `handOn`.
OutgoingResult SendOutgoing(const std::string& input, const OutgoingOptions& options, const HandOn& handOn);

}  // namespace vexa::cli
