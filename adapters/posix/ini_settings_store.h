// The Linux settings store: one INI file per user, one [Section] per settings section.
// The add-in object is handed an IniSettingsStore on DefaultSettingsPath() by the Linux host.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_store.h"

namespace vexa::posix {

class IniSettingsStore : public SettingsStore {
public:
    explicit IniSettingsStore(std::filesystem::path path);

    // Section and key match without regard to ASCII case, as they do in the Windows registry.
    // Blanks around a key or section name are not significant.
    std::string GetSetting(const std::string& appName, const std::string& section,
                           const std::string& key, const std::string& defaultValue) override;

    // Rewrites the whole file atomically; everything else in it (other keys, comments, blank
    // lines, hand-written values) stays byte for byte. Throws HostError for a section or key
    // name the file cannot hold (empty, line breaks, a key with '=' or starting with ';',
    // '#' or '[').
    void SaveSetting(const std::string& appName, const std::string& section, const std::string& key,
                     const std::string& value) override;

    const std::filesystem::path& Path() const noexcept { return path_; }

private:
    std::filesystem::path path_;
};

// The file's text as the store reads and rewrites it, without the file: the store calls these,
// and so can a test or a fuzzer that feeds it arbitrary text.
namespace ini {

// The value GetSetting gives when the file holds `contents`; nullopt when the key is absent or
// a name is one the file cannot hold.
std::optional<std::string> ReadSetting(std::string_view contents, const std::string& section,
                                       const std::string& key);

// The text SaveSetting writes when the file held `contents`. Throws std::invalid_argument,
// naming the section or key, for a name the file cannot hold.
std::string WriteSetting(std::string_view contents, const std::string& section, const std::string& key,
                         std::string_view value);

// Whether `contents` has a [section] of that name (ASCII case ignored).
bool HasSection(std::string_view contents, std::string_view section);

struct KeyLine {
    std::size_t line = 0;  // from 1
    std::string section;   // as written; "" for a key above every section
    std::string key;
};
// Every name=value line of `contents`, in order, with the section it is in.
std::vector<KeyLine> Keys(std::string_view contents);

// The number (from 1) of the first line that is neither blank, a comment, a [section] nor a
// name=value line; nullopt when there is none. The settings store reads past such lines, a file
// that must not be misread can refuse them.
std::optional<std::size_t> FirstStrayLine(std::string_view contents);

}  // namespace ini

// $XDG_CONFIG_HOME/vexa/settings.ini (with the XDG fallback to ~/.config).
std::filesystem::path DefaultSettingsPath();

}  // namespace vexa::posix
