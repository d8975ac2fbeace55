// The Windows settings store: the per-user program-settings branch that the VBA run-time's
// GetSetting and SaveSetting use, so settings saved by earlier releases of the add-in carry over.
// The add-in's platform wiring hands one to the add-in object.
#pragma once

#include <string>

#include "settings/settings_store.h"

namespace vexa::windows {

inline constexpr const char* kProgramSettingsKey = "Software\\VB and VBA Program Settings";

// Each setting is a REG_SZ value named `key` in HKEY_CURRENT_USER\<root>\<appName>\<section>.
// Names match without regard to case, as the registry's do.
class RegistrySettingsStore final : public SettingsStore {
public:
    // `rootKey` is below HKEY_CURRENT_USER; tests pass a key of their own.
    explicit RegistrySettingsStore(std::string rootKey = kProgramSettingsKey);

    // A value that is not a string (REG_SZ or REG_EXPAND_SZ, which is not expanded) counts as
    // missing. The text ends at the first NUL, as with every C-string reader of the value.
    // Throws HostError 5 when `appName`, `section` or `key` is empty, as the run-time does.
    std::string GetSetting(const std::string& appName, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override;
    // Replaces a value of any type. Throws HostError 5 for an empty name, as above.
    void SaveSetting(const std::string& appName, const std::string& section, const std::string& key,
                     const std::string& value) override;

private:
    std::wstring SectionPath(const std::string& appName, const std::string& section) const;

    std::string rootKey_;
};

}  // namespace vexa::windows
