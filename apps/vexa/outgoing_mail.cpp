#include "apps/vexa/outgoing_mail.h"

#include <memory>

#include "adapters/maildir/maildir_mail.h"
#include "apps/vexa/header_field.h"
#include "host/host_error.h"

namespace vexa::cli {
namespace {

// The description field's value as the mail program wrote it, RFC 2047 words and all, read the
// way the host reads a subject.
std::string DecodedFieldText(maildir::MaildirSession& session, const std::string& raw) {
    try {
        return session.ParseMessage("Subject: " + raw + "\n\n")->Subject();
    } catch (...) {
        return raw;
    }
}

// Whether `message` is a fax for the service's gateway, by the options alone.
bool IsOutgoingFax(CommandRuntime& runtime, const std::string& message) {
    try {
        return runtime.Addin().TestJ2Message(runtime.Session().ParseMessage(message), false, true) == MessageKind::mkOutgoing;
    } catch (...) {
        return false;  // not a mail message at all: no fax
    }
}

HandOnOutcome Run(const HandOn& handOn, const std::string& message) {
    try {
        return handOn(message);
    } catch (...) {
        return {false, false, CurrentErrorDescription()};
    }
}

// Holds the archive lock, if any, except while the mail is handed on.
class ArchiveTurn {
public:
    explicit ArchiveTurn(std::mutex* lock) : lock_(lock ? std::unique_lock<std::mutex>(*lock) : std::unique_lock<std::mutex>()) {}
    HandOnOutcome HandOnUnlocked(const HandOn& handOn, const std::string& message) {
        if (lock_.owns_lock()) lock_.unlock();
        HandOnOutcome outcome = Run(handOn, message);
        if (lock_.mutex()) lock_.lock();
        return outcome;
    }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace

OutgoingResult SendOutgoing(const std::string& input, const OutgoingOptions& options, const HandOn& handOn) {
    const TakenField described = TakeHeaderField(input, kDescriptionField);
    const std::string& message = described.message;
    const bool fromField = !options.runtime.description && described.value && !described.value->empty();

    OutgoingResult result;
    if (options.classifier) {
        switch (options.classifier->Classify(message, options.envelope.value_or(std::vector<std::string>{}))) {
        case MailKind::Ordinary:
            result.handOn = Run(handOn, message);
            return result;
        case MailKind::UnrecordedFax:
            result.stage = OutgoingResult::Stage::UnrecordedFax;
            return result;
        case MailKind::Fax:
            break;
        }
    }
    // Declared before the runtime, so that the runtime is also built and taken down under it.
    ArchiveTurn turn(options.archiveLock);
    CommandRuntime runtime(options.runtime);
    const bool initialized = runtime.Connect();
    if (!initialized) {
        // Installed, but the archive could not be opened (its server out of reach): the settings
        // alone tell a fax, which is not sent unrecorded (its confirmation would find no row);
        // the mail program keeps it for later.
        if (!runtime.Addin().AppPath().empty() && IsOutgoingFax(runtime, message)) {
            runtime.Shutdown();
            result.stage = OutgoingResult::Stage::ArchiveUnreachable;
            return result;
        }
        // As the send hook does while the add-in is not initialised: say so, and let the mail go
        // unrecorded. Ordinary mail must never be held up by the archive.
        runtime.Messages().Show("Application is not initialized!", kAppTitle);
        runtime.Shutdown();
        result.uninitialized = true;
        result.handOn = turn.HandOnUnlocked(handOn, message);
        return result;
    }
    if (fromField) {
        runtime.AnswerDescription(DecodedFieldText(runtime.Session(), *described.value));
    } else if (!options.runtime.description && options.fallbackDescription) {
        runtime.AnswerDescription(*options.fallbackDescription);
    }

    std::shared_ptr<maildir::MaildirMailItem> item;
    try {
        item = runtime.Session().ParseMessage(message);
    } catch (...) {
        // Not a mail message at all: no fax of ours, so it is handed on untouched.
        runtime.Shutdown();
        result.handOn = turn.HandOnUnlocked(handOn, message);
        return result;
    }
    if (options.envelope) AddEnvelopeOnlyRecipients(*item, *options.envelope);
    runtime.Stores().Take();
    const bool goesAhead = runtime.Session().RaiseItemSend(item);
    // Only the fax's store cancels a send, and it says why: the prompt cancelled, or a failure.
    const std::optional<StoreReport> stored = runtime.Stores().Take();
    runtime.Shutdown();
    if (!goesAhead) {
        const bool cancelled = stored && stored->outcome == StoreOutcome::Cancelled;
        result.stage = cancelled ? OutgoingResult::Stage::Cancelled : OutgoingResult::Stage::NotRecorded;
        return result;
    }
    if (stored && stored->outcome == StoreOutcome::Stored) result.fax = stored->row;
    // From here on a fax may be in the archive: whatever keeps the mail from being handed on
    // must take it out again, or it would wait for a confirmation that never comes.
    result.handOn = turn.HandOnUnlocked(handOn, item->RawMessageWithSubject());
    if (result.handOn.delivered || !result.fax || result.handOn.mayHaveLeft) return result;
    try {
        runtime.WithdrawSentFax(*result.fax);
        result.withdrawn = true;
    } catch (...) {
        result.withdrawalError = CurrentErrorDescription();
    }
    return result;
}

}  // namespace vexa::cli
