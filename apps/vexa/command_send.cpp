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

#include "apps/vexa/cli.h"
#include "apps/vexa/command_runtime.h"
#include "apps/vexa/outgoing_mail.h"
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
    OutgoingOptions outgoing;
    outgoing.runtime = parsed.runtime;
    Delivery delivery{0, {}};
    const OutgoingResult result = SendOutgoing(input, outgoing, [&](const std::string& message) {
        try {
            delivery = Deliver(command, message);
        } catch (...) {
            delivery = {kExitTempFail, CurrentErrorDescription()};
        }
        return HandOnOutcome{delivery.status == 0, false, delivery.reason};
    });
    switch (result.stage) {
    case OutgoingResult::Stage::ArchiveUnreachable:
        std::fprintf(stderr, "vexa send: not sent: the fax could not be recorded (the archive cannot be reached)\n");
        return kExitTempFail;
    case OutgoingResult::Stage::Cancelled:
        std::fprintf(stderr, "vexa send: not sent: the description prompt was cancelled\n");
        return kExitTempFail;
    case OutgoingResult::Stage::NotRecorded:
        std::fprintf(stderr, "vexa send: not sent: the fax could not be recorded\n");
        return kExitTempFail;
    case OutgoingResult::Stage::UnrecordedFax:  // told only where an envelope is given (the relay)
        std::fprintf(stderr, "vexa send: not sent: it goes to the fax gateway but is no fax that is recorded\n");
        return kExitTempFail;
    case OutgoingResult::Stage::HandedOn:
        break;
    }
    if (delivery.status == 0) return 0;
    if (!result.fax) {
        std::fprintf(stderr, "vexa send: %s\n", delivery.reason.c_str());
        return delivery.status;
    }
    const std::string row = FormatId(*result.fax);
    if (result.withdrawn) {
        std::fprintf(stderr, "vexa send: not sent: %s; the fax {%s} is taken out of the archive again\n",
                     delivery.reason.c_str(), row.c_str());
    } else {
        std::fprintf(stderr, "vexa send: not sent: %s; the fax {%s} stays in the archive: %s\n",
                     delivery.reason.c_str(), row.c_str(), result.withdrawalError.c_str());
    }
    return delivery.status;
}

}  // namespace vexa::cli
