// What vexa relay reads from the settings file's [Relay] section: the user's real submission
// server (Upstream=smtps://host:465 or smtp://host:587), the login the relay uses there for its
// own user's mail (User=, and the first line PasswordCommand= prints), the CA to trust (CaFile=),
// where to listen (Listen=HOST:PORT) and the certificate and key of STARTTLS.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vexa::cli {

inline constexpr const char* kRelaySection = "Relay";
inline constexpr const char* kRelayKeys[] = {"Upstream", "User", "PasswordCommand", "CaFile", "Listen", "Certificate", "Key"};
inline constexpr const char* kDefaultRelayListen = "127.0.0.1:1587";

struct RelaySettings {
    std::string upstream;  // empty: not set
    std::optional<std::string> user;
    std::optional<std::string> passwordCommand;
    std::optional<std::string> caFile;
    std::optional<std::string> listen;
    std::optional<std::filesystem::path> certificate;
    std::optional<std::filesystem::path> key;
};

// The [Relay] section of ~/.config/vexa/settings.ini as it is now. Throws HostError when the
// file cannot be read.
RelaySettings ReadRelaySettings();

// HOST:PORT split at its last colon ([v6]:port without the brackets); throws UsageError naming
// `where` when it is not of that form.
std::pair<std::string, std::string> SplitListenAddress(const std::string& text, const std::string& where);

}  // namespace vexa::cli
