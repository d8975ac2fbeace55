#include "apps/vexa/relay_settings.h"

#include <utility>

#include "adapters/posix/ini_settings_store.h"
#include "apps/vexa/cli.h"
#include "apps/vexa/listen_address.h"
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
    const auto [host, port] = ParseListenAddress(text, where, "127.0.0.1:1587", false);
    return {host, std::to_string(port)};
}

}  // namespace vexa::cli
