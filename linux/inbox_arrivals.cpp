#include "linux/inbox_arrivals.h"

#include <optional>

#include "dialogs/frm_options.h"
#include "host/mail_item.h"
#include "linux/imap_mirror.h"

namespace vexa::linuxhost {
namespace {

// The message as the user can find it: an IMAP message by its UID (its mirror file is private
// and gone by the time anyone reads the line), a Maildir one by its file name; with its
// Message-ID once it is read.
std::string MailName(const std::filesystem::path& file, const ItemPtr& item) {
    const auto uid = MirrorFileUid(file.filename().string());
    std::string name = uid ? "UID " + std::to_string(*uid) : file.filename().string();
    if (const auto mail = std::dynamic_pointer_cast<MailItem>(item); uid && mail) {
        if (const std::string id = mail->InternetMessageId(); !id.empty()) name += " <" + id + ">";
    }
    return name;
}

// Where the add-in's clean-up moves an archived message: the store folder, the trash in delete
// mode, or nowhere ("").
std::string CleanUpFolder(Runtime& runtime) {
    frmOptions& options = runtime.Addin().Options();
    if (!options.rbStore.Value) return ".Trash";
    return options.tFolder.Text.empty() ? "" : "." + options.tFolder.Text;
}

}  // namespace

HandledArrival HandleArrival(Runtime& runtime, const std::filesystem::path& file, bool includeRead) {
    auto& session = runtime.Session();
    HandledArrival handled;
    std::optional<maildir::MaildirSession::Arrival> arrival;
    {
        ConsoleMessageBox::About about(runtime.Messages(), MailName(file, nullptr), "");
        try {
            arrival = session.TakeArrival(file, includeRead);
        } catch (...) {
            runtime.Messages().Show(CurrentErrorDescription(), kAppTitle);
            handled.result = ArrivalResult::Failed;
            return handled;
        }
    }
    if (!arrival) return handled;
    if (const auto mail = std::dynamic_pointer_cast<MailItem>(arrival->item)) handled.subject = mail->Subject();
    handled.unique = arrival->unique;

    ConsoleMessageBox::About about(runtime.Messages(), MailName(arrival->file, arrival->item), handled.subject);
    runtime.Stores().Take();
    try {
        session.RaiseArrival(*arrival);
    } catch (...) {
        // The handler reports its own failures; this is the host's (the record not written).
        runtime.Messages().Show(CurrentErrorDescription(), kAppTitle);
        handled.result = ArrivalResult::Failed;
        return handled;
    }
    // The handler stores a fax or a confirmation and nothing else; no report, no store.
    const auto report = runtime.Stores().Take();
    if (runtime.TakeArchiveLost()) {
        // Not handled: the message stays due, and the command stops archiving for now.
        session.ForgetArrival(arrival->unique);
        handled.archiveLost = true;
        return handled;
    }
    if (!report) {
        handled.result = ArrivalResult::LeftAlone;
        return handled;
    }
    handled.row = report->row;
    handled.detail = report->detail;
    handled.alreadyArchived = report->alreadyArchived;
    if (report->outcome == StoreOutcome::Failed) {
        handled.result = ArrivalResult::Failed;
        if (report->outcomeUnknown && !report->detail.empty()) {
            handled.archiveLost = handled.outcomeUnknown = true;
            try {
                session.JournalArrival({arrival->unique, report->detail}, CleanUpFolder(runtime));
                return handled;
            } catch (...) {
                // Without its entry the message must be due again: archived twice at worst,
                // never lost.
                runtime.Messages().Show(CurrentErrorDescription(), kAppTitle);
            }
        }
        if (report->transient) {
            // The machine or the archive failed, not the mail: the message stays due and the
            // command stops archiving for now, to try again later.
            handled.archiveLost = true;
            try {
                session.ForgetArrival(arrival->unique);
            } catch (...) {
                runtime.Messages().Show(CurrentErrorDescription(), kAppTitle);
            }
        }
    } else if (report->kind == MessageKind::mkIncoming) {
        handled.result = report->outcome == StoreOutcome::Stored ? ArrivalResult::Incoming : ArrivalResult::LeftAlone;
    } else {
        // A confirmation without outcome or usable tag, or whose tag names no row, marked nothing.
        handled.result = report->row != 0 ? ArrivalResult::Confirmation : ArrivalResult::Unmatched;
    }
    return handled;
}

std::string ArrivalLine(const HandledArrival& handled) {
    const std::string subject = ConsoleMessageBox::OneLine(handled.subject);
    switch (handled.result) {
        case ArrivalResult::Incoming:
            if (handled.alreadyArchived) return "incoming fax already archived as row " + std::to_string(handled.row) + ": " + subject;
            return "incoming fax " + handled.detail + " row " + std::to_string(handled.row) + ": " + subject;
        case ArrivalResult::Confirmation:
            return "confirmation of row " + std::to_string(handled.row) + ": " + handled.detail;
        case ArrivalResult::Unmatched:
            return "confirmation matched no fax: " + subject;
        default:
            return "";
    }
}

}  // namespace vexa::linuxhost
