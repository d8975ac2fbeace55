// The per-user settings store: named text values addressed by application, section and key.
// The add-in object reads and writes its settings only through this interface; each platform
// supplies its own (an INI file on Linux, the registry on Windows, a map in tests).
#pragma once

#include <string>

namespace vexa {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // Returns the stored text, or `defaultValue` unchanged when the section or key does not
    // exist. A missing store is not an error. Throws HostError when the store cannot be read.
    virtual std::string GetSetting(const std::string& appName, const std::string& section,
                                   const std::string& key, const std::string& defaultValue) = 0;

    // Stores `value`, creating the section and key as needed and replacing any earlier value.
    // Throws HostError when the store cannot be written; the earlier value then stays.
    virtual void SaveSetting(const std::string& appName, const std::string& section,
                             const std::string& key, const std::string& value) = 0;
};

}  // namespace vexa
