#include "apps/vexa/relay_settings.h"

#include <utility>

#include "adapters/posix/ini_settings_store.h"
#include "apps/vexa/cli.h"
#include "linux/trimmed.h"
#include "settings/setting_names.h"

namespace vexa::cli {

RelaySettings ReadRelaySettings() {
    posix::IniSettingsStore settings(posix::DefaultSettingsPath());
    const auto setting = [&](const char* key) {
        std::string value = linuxhost::Trimmed(settings.GetSetting(settings::kAppName, kRelaySection, key, ""));
        return value.empty() ? std::nullopt : std::optional<std::string>(std::move(value));
    };
    RelaySettings relay;
    relay.upstream = setting("Upstream").value_or("");
    relay.user = setting("User");
    relay.passwordCommand = setting("PasswordCommand");
    relay.caFile = setting("CaFile");
    relay.listen = setting("Listen");
    if (const auto certificate = setting("Certificate")) relay.certificate = *certificate;
    if (const auto key = setting("Key")) relay.key = *key;
    return relay;
}

std::pair<std::string, std::string> SplitListenAddress(const std::string& text, const std::string& where) {
    const auto colon = text.rfind(':');
    const bool digits = colon != std::string::npos && colon + 1 < text.size() &&
                        text.find_first_not_of("0123456789", colon + 1) == std::string::npos;
    // Above 65535 the port would wrap to another one; 0 would be any free port, which no mail
    // program could be told.
    const std::string port = digits ? text.substr(colon + 1) : std::string();
    const bool inRange = digits && port.size() <= 5 && std::stoul(port) >= 1 && std::stoul(port) <= 65535;
    if (!inRange || colon == 0) {
        throw UsageError(where + " takes HOST:PORT (a port from 1 to 65535), such as 127.0.0.1:1587, not '" + text + "'");
    }
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return {host, port};
}

}  // namespace vexa::cli
