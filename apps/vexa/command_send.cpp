// vexa send: sendmail for mail readers. Reads one message, raises the send event for it (which
// archives a fax and tags its subject), then hands the message, changed only in its Subject:
// header, to the real transport. A fax that was not recorded is not handed on: exit 75 tells the
// mail reader to keep the message. A fax whose transport then fails never left, so it is taken
// back out of the archive. Ordinary mail always goes out, whatever state Vexa is in.

#include <cstdio>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "adapters/maildir/maildir_mail.h"
#include "apps/vexa/cli.h"
#include "apps/vexa/command_runtime.h"
#include "apps/vexa/header_field.h"
#include "apps/vexa/option_parser.h"
#include "apps/vexa/transport.h"
#include "archive/archive_names.h"
#include "host/host_error.h"

namespace vexa::cli {
namespace {

struct SendArgs {
    std::optional<std::string> transport;
    CommandRuntime::Options runtime;
    std::vector<std::string> passOn;
};

// Our own options come first; everything from the first other argument on belongs to the transport.
SendArgs ParseSendArgs(const Args& args) {
    const ParsedOptions options =
        ParseOwnOptions(args, {{"transport", true}, {"description", true}, {"maildir", true}});
    SendArgs parsed;
    parsed.transport = options.Value("transport");
    if (parsed.transport && parsed.transport->empty()) throw UsageError("--transport needs a command");
    parsed.runtime.description = options.Value("description");
    parsed.runtime.maildir = options.Value("maildir");
    // Sending archives; it never reads or changes the mailbox.
    parsed.runtime.mailboxOptional = true;
    parsed.passOn = options.Operands();
    return parsed;
}

// The description field's value as the mail reader wrote it, RFC 2047 words and all, read the
// way the host reads a subject.
std::string DecodedFieldText(maildir::MaildirSession& session, const std::string& raw) {
    try {
        return session.ParseMessage("Subject: " + raw + "\n\n")->Subject();
    } catch (...) {
        return raw;
    }
}

int HandOn(const std::string& command, const std::string& message) {
    const Delivery delivery = Deliver(command, message);
    if (delivery.status != 0) std::fprintf(stderr, "vexa send: %s\n", delivery.reason.c_str());
    return delivery.status;
}

// Whether `message` is a fax for the service's gateway, by the options alone.
bool IsOutgoingFax(CommandRuntime& runtime, const std::string& message) {
    try {
        return runtime.Addin().TestJ2Message(runtime.Session().ParseMessage(message), false, true) == MessageKind::mkOutgoing;
    } catch (...) {
        return false;  // not a mail message at all: no fax
    }
}

}  // namespace

int RunSend(const Args& args) {
    SendArgs parsed = ParseSendArgs(args);

    // The transport is checked before anything is read or archived: a fax must never be recorded
    // as sent by a transport that cannot run.
    std::string transport;
    try {
        posix::IniSettingsStore settings(posix::DefaultSettingsPath());
        transport = ChooseTransport(parsed.transport, settings);
    } catch (...) {
        std::fprintf(stderr, "vexa send: can't read the transport from the settings: %s\n",
                     CurrentErrorDescription().c_str());
        return kExitConfig;
    }
    if (const auto why = WhyNotRunnable(transport)) {
        std::fprintf(stderr, "vexa send: not sent: the transport '%s' cannot be run: %s\n", transport.c_str(),
                     why->c_str());
        return kExitConfig;
    }
    const std::string command = TransportCommand(transport, parsed.passOn);

    const std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    const TakenField described = TakeHeaderField(input, kDescriptionField);
    const std::string& message = described.message;
    const bool fromField = !parsed.runtime.description && described.value && !described.value->empty();

    CommandRuntime runtime(parsed.runtime);
    const bool initialized = runtime.Connect();
    if (!initialized) {
        // Installed, but the archive could not be opened (its server out of reach): the settings
        // alone tell a fax, which is not sent unrecorded (its confirmation would find no row);
        // the mail reader keeps it for later.
        if (!runtime.Addin().AppPath().empty() && IsOutgoingFax(runtime, message)) {
            runtime.Shutdown();
            std::fprintf(stderr, "vexa send: not sent: the fax could not be recorded (the archive cannot be reached)\n");
            return kExitTempFail;
        }
        // As the send hook does while the add-in is not initialised: say so, and let the mail go
        // unrecorded. Ordinary mail must never be held up by the archive.
        runtime.Messages().Show("Application is not initialized!", kAppTitle);
        runtime.Shutdown();
        return HandOn(command, message);
    }
    if (fromField) runtime.AnswerDescription(DecodedFieldText(runtime.Session(), *described.value));

    std::shared_ptr<maildir::MaildirMailItem> item;
    try {
        item = runtime.Session().ParseMessage(message);
    } catch (...) {
        // Not a mail message at all: no fax of ours, so it is handed on untouched.
        runtime.Shutdown();
        return HandOn(command, message);
    }
    runtime.Stores().Take();
    const bool goesAhead = runtime.Session().RaiseItemSend(item);
    // Only the fax's store cancels a send, and it says why: the prompt cancelled, or a failure.
    const std::optional<StoreReport> stored = runtime.Stores().Take();
    runtime.Shutdown();
    if (!goesAhead) {
        const bool cancelled = stored && stored->outcome == StoreOutcome::Cancelled;
        std::fprintf(stderr, "vexa send: not sent: %s\n",
                     cancelled ? "the description prompt was cancelled" : "the fax could not be recorded");
        return kExitTempFail;
    }
    // From here on a fax may be in the archive: whatever keeps the transport from taking the
    // message must take it out again, or it would wait for a confirmation that never comes.
    Delivery delivery;
    try {
        delivery = Deliver(command, item->RawMessageWithSubject());
    } catch (...) {
        delivery = {kExitTempFail, CurrentErrorDescription()};
    }
    if (delivery.status == 0) return 0;
    const bool recorded = stored && stored->outcome == StoreOutcome::Stored;
    if (!recorded) {
        std::fprintf(stderr, "vexa send: %s\n", delivery.reason.c_str());
        return delivery.status;
    }
    const std::int64_t row = stored->row;
    try {
        runtime.WithdrawSentFax(row);
        std::fprintf(stderr, "vexa send: not sent: %s; the fax {%s} is taken out of the archive again\n",
                     delivery.reason.c_str(), FormatId(row).c_str());
    } catch (...) {
        std::fprintf(stderr, "vexa send: not sent: %s; the fax {%s} stays in the archive: %s\n",
                     delivery.reason.c_str(), FormatId(row).c_str(), CurrentErrorDescription().c_str());
    }
    return delivery.status;
}

}  // namespace vexa::cli
