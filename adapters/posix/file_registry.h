// The Linux stand-in for the Windows registry: a file in regedit's export format that the
// installer step writes (SetString, SetDword) and the installation-folder lookup reads through
// the Registry calls. Built once per lookup on DefaultRegistryPath().
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "addin/registry.h"

namespace vexa {

namespace registry_file {
struct Key;
struct Value;
}  // namespace registry_file

class FileRegistry : public Registry {
public:
    // Reads the whole file now; a missing file is an empty registry. Throws HostError when the
    // file cannot be read or is not a "Windows Registry Editor Version 5.00" file (UTF-8, or
    // UTF-16LE with a byte order mark as regedit writes it).
    explicit FileRegistry(std::filesystem::path path);
    // Reads `contents` as though the file at `path` held them, without touching the file until
    // a value is set. The constructor above reads through this.
    FileRegistry(std::filesystem::path path, std::string_view contents);
    ~FileRegistry() override;
    FileRegistry(const FileRegistry&) = delete;
    FileRegistry& operator=(const FileRegistry&) = delete;

    // Key and value names match without regard to ASCII case. An empty or null `subKey` opens
    // a new handle to `key` itself, so the caller may close whatever it was given.
    std::int32_t RegOpenKeyA(RegKey key, const char* subKey, RegKey& opened) override;
    // hex(1), hex(2) and hex(7) values are UTF-16LE in the file and come back as UTF-8.
    std::int32_t RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* reserved,
                                  std::uint32_t& type, unsigned char* data, std::uint32_t& size) override;
    std::int32_t RegCloseKey(RegKey key) override;

    // Create the keys on the way as needed, replace any value of that name whatever its type,
    // and save the file atomically. `root` is a predefined root or an open handle; an empty
    // `valueName` is the key's default value. Throws HostError when the file cannot be written
    // (the file and what this object reads back then stay as they were) or when a name holds a
    // line break.
    void SetString(RegKey root, const std::string& subKey, const std::string& valueName,
                   const std::string& value);
    void SetDword(RegKey root, const std::string& subKey, const std::string& valueName, std::uint32_t value);

    const std::filesystem::path& Path() const noexcept { return path_; }
    // What a save writes now: the signature line and every key and value, in regedit's format.
    std::string Text() const;

private:
    registry_file::Key* Resolve(RegKey key) const;
    void SetValue(RegKey root, const std::string& subKey, registry_file::Value value);
    void Save() const;

    std::filesystem::path path_;
    std::unique_ptr<registry_file::Key> top_;  // its children are the predefined roots
    std::map<RegKey, registry_file::Key*> handles_;
    RegKey lastHandle_ = 0;
};

// $XDG_CONFIG_HOME/vexa/registry.reg (with the XDG fallback to ~/.config).
std::filesystem::path DefaultRegistryPath();

}  // namespace vexa
