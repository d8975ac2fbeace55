#include "adapters/posix/record_registry.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "adapters/posix/atomic_file.h"
#include "adapters/posix/ini_settings_store.h"
#include "adapters/posix/xdg.h"
#include "host/host_error.h"

namespace vexa::posix {
namespace {

// Handles are handed out below the predefined roots and in steps of four, as Windows does, so
// that a handle can never be mistaken for a root.
constexpr RegKey kFirstHandle = 0x100;
constexpr RegKey kPredefinedBase = 0x80000000u;

constexpr const char* kDefaultValueName = "@";
// A hand-written record may name the default value so; `@` is what `vexa init` writes.
constexpr const char* kDefaultValueAlias = "Path";

std::optional<std::string> RootName(RegKey key) {
    if (key == kHkeyLocalMachine) return "HKEY_LOCAL_MACHINE";
    if (key == kHkeyCurrentUser) return "HKEY_CURRENT_USER";
    return std::nullopt;
}

std::string SectionOf(const std::string& parent, const char* subKey) {
    if (subKey == nullptr || *subKey == '\0') return parent;
    return parent + "\\" + subKey;
}

}  // namespace

RecordRegistry::RecordRegistry(std::filesystem::path path)
    : RecordRegistry(path, ReadFileIfPresent(path).value_or("")) {}

RecordRegistry::RecordRegistry(std::filesystem::path path, std::string contents)
    : path_(std::move(path)), contents_(std::move(contents)) {
    if (std::optional<std::size_t> line = ini::FirstStrayLine(contents_)) {
        throw HostError(EINVAL, "Can't read " + path_.string() + ": line " + std::to_string(*line) +
                                    " is not valid because it is neither a [key] nor a name=value line");
    }
}

std::int32_t RecordRegistry::RegOpenKeyA(RegKey key, const char* subKey, RegKey& opened) {
    std::optional<std::string> parent = RootName(key);
    if (!parent) {
        auto found = handles_.find(key);
        if (found == handles_.end()) return kRegInvalidHandle;
        parent = found->second;
    }
    std::string section = SectionOf(*parent, subKey);
    if (!ini::HasSection(contents_, section)) return kRegFileNotFound;
    RegKey handle = lastHandle_;
    do {
        handle += 4;
        if (handle < kFirstHandle || handle >= kPredefinedBase) handle = kFirstHandle;
    } while (handles_.contains(handle));
    lastHandle_ = handle;
    handles_.emplace(handle, std::move(section));
    opened = handle;
    return kRegSuccess;
}

std::int32_t RecordRegistry::RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* /*reserved*/,
                                              std::uint32_t& type, unsigned char* data, std::uint32_t& size) {
    std::optional<std::string> section = RootName(key);
    if (!section) {
        auto found = handles_.find(key);
        if (found == handles_.end()) return kRegInvalidHandle;
        section = found->second;
    }
    std::optional<std::string> value;
    if (valueName == nullptr || *valueName == '\0') {
        value = ini::ReadSetting(contents_, *section, kDefaultValueName);
        if (!value) value = ini::ReadSetting(contents_, *section, kDefaultValueAlias);
    } else {
        value = ini::ReadSetting(contents_, *section, valueName);
    }
    if (!value) return kRegFileNotFound;
    // What the A-call hands out: the text with its terminating NUL.
    value->push_back('\0');
    type = kRegSz;
    const std::uint32_t capacity = size;
    size = static_cast<std::uint32_t>(value->size());
    if (data == nullptr) return kRegSuccess;
    if (capacity < value->size()) return kRegMoreData;
    std::memcpy(data, value->data(), value->size());
    return kRegSuccess;
}

std::int32_t RecordRegistry::RegCloseKey(RegKey key) {
    return handles_.erase(key) == 1 ? kRegSuccess : kRegInvalidHandle;
}

void RecordRegistry::SetDefaultValue(RegKey root, const std::string& subKey, const std::string& value) {
    std::optional<std::string> parent = RootName(root);
    if (!parent) throw HostError(EINVAL, "Can't write " + path_.string() + ": the key's root is not one of the record's");
    std::string contents;
    try {
        contents = ini::WriteSetting(contents_, SectionOf(*parent, subKey.c_str()), kDefaultValueName, value);
    } catch (const std::invalid_argument& e) {
        throw HostError(EINVAL, "Can't write " + path_.string() + ": " + e.what());
    }
    WriteFileAtomically(path_, contents);
    contents_ = std::move(contents);
}

std::filesystem::path DefaultRecordPath() { return XdgConfigHome() / "vexa" / "registry.ini"; }

}  // namespace vexa::posix
