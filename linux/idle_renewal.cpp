#include "linux/idle_renewal.h"

#include <charconv>
#include <string>

#include "adapters/posix/ini_settings_store.h"
#include "linux/imap_account.h"
#include "linux/trimmed.h"
#include "settings/setting_names.h"

namespace vexa::linuxhost {

namespace {
constexpr int kDefaultSeconds = 90;
constexpr int kMostSeconds = 29 * 60;
}  // namespace

int IdleRenewSeconds() {
    posix::IniSettingsStore settings(posix::DefaultSettingsPath());
    const std::string text = Trimmed(settings.GetSetting(settings::kAppName, kMailboxSection, "IdleRenewSeconds", ""));
    int seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return kDefaultSeconds;
    return seconds >= 1 && seconds <= kMostSeconds ? seconds : kDefaultSeconds;
}

}  // namespace vexa::linuxhost
