// The Linux stand-in for the registry: the installation record, a small INI file whose section
// names are registry key paths ("[HKEY_LOCAL_MACHINE\SOFTWARE\...]") and whose `@` entry is a
// key's default value. `vexa init` records the installation folder in it and start-up reads it
// back through the Registry calls, as the add-in reads the App Paths key on Windows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "addin/registry.h"

namespace vexa::posix {

class RecordRegistry final : public Registry {
public:
    // Reads the file now; a missing file is an empty record. Throws HostError when the file
    // cannot be read or holds a line that is neither a [key], a name=value, a comment nor blank:
    // a record that may be misread is refused rather than guessed at.
    explicit RecordRegistry(std::filesystem::path path);
    // Reads `contents` as though the file at `path` held them.
    RecordRegistry(std::filesystem::path path, std::string contents);

    // Only HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER are roots here. Names match without regard
    // to ASCII case.
    std::int32_t RegOpenKeyA(RegKey key, const char* subKey, RegKey& opened) override;
    // Every value is a string (kRegSz). The default value (a null or empty name) is `@`, or
    // `Path` in a record written by hand.
    std::int32_t RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* reserved,
                                  std::uint32_t& type, unsigned char* data, std::uint32_t& size) override;
    std::int32_t RegCloseKey(RegKey key) override;

    // Records `value` as the default value of `subKey` below `root` and saves the file
    // atomically; everything else in it stays. Throws HostError when it cannot be written.
    void SetDefaultValue(RegKey root, const std::string& subKey, const std::string& value);

private:
    std::filesystem::path path_;
    std::string contents_;
    std::map<RegKey, std::string> handles_;  // an open handle's section name
    RegKey lastHandle_ = 0;
};

// $XDG_CONFIG_HOME/vexa/registry.ini (with the XDG fallback to ~/.config).
std::filesystem::path DefaultRecordPath();

}  // namespace vexa::posix
