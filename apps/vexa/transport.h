// The real sendmail that vexa send hands mail on to: which command it is, whether it can be run
// at all (checked before anything is archived), and running it with the message on its input.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "settings/settings_store.h"

namespace vexa::cli {

inline constexpr const char* kDefaultTransport = "/usr/sbin/sendmail -oi";
inline constexpr const char* kTransportVariable = "VEXA_TRANSPORT";
// The settings file's own section for it, beside the add-in's sections: [Mail] Transport=...
inline constexpr const char* kMailSection = "Mail";
inline constexpr const char* kTransportKey = "Transport";

// --transport, else $VEXA_TRANSPORT, else Transport in the settings file's [Mail] section, else
// the system's sendmail. Mail readers such as mutt split their sendmail setting on blanks and
// ignore quotes, so a command with options cannot be given on their command line: the other two
// places take it whole.
std::string ChooseTransport(const std::optional<std::string>& option, SettingsStore& settings);

// Why `command` cannot be run (its program is not found or not executable), or nullopt when it
// can. Only the first word is looked at; a word the shell would expand first is left to it.
std::optional<std::string> WhyNotRunnable(const std::string& command);

// The transport's command line: the command as given, then `passOn` each quoted for /bin/sh.
std::string TransportCommand(const std::string& transport, const std::vector<std::string>& passOn);

struct Delivery {
    int status;          // the transport's exit status; 75 when a signal ended it or it left
                         // part of the message unread
    std::string reason;  // for a status other than 0: what happened, in words
};

// Runs `command` with /bin/sh -c, `message` on its standard input, and waits for it. A transport
// that exits 0 without having read the whole message did not send it: that is status 75. Throws
// HostError when the transport cannot be started or waited for.
Delivery Deliver(const std::string& command, const std::string& message);

}  // namespace vexa::cli
