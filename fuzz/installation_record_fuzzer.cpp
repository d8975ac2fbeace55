// The installation record (registry.ini) and the registry.reg of earlier installations, on any
// bytes: start-up reads the installation folder from them, `vexa init` rewrites the record. A
// file either reads or is refused with HostError; an old file that reads gives a record that
// reads too; a folder recorded in a record that reads is what the lookup finds.
//
// Input: the recorded module path, ended by a NUL, then the file's bytes. An input without a NUL
// is all file, with an ordinary path.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "adapters/posix/ini_settings_store.h"
#include "adapters/posix/legacy_registry_file.h"
#include "adapters/posix/record_registry.h"
#include "fuzz/fuzz_support.h"
#include "host/host_error.h"

namespace {

using vexa::fuzz::Check;
namespace posix = vexa::posix;

constexpr const char* kAppPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll";
constexpr const char* kSection = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll";

// The lookup start-up makes, with the two calls' answers checked against each other.
std::optional<std::string> RecordedModule(vexa::Registry& registry) {
    vexa::RegKey key = 0;
    if (registry.RegOpenKeyA(vexa::kHkeyLocalMachine, kAppPathsKey, key) != vexa::kRegSuccess) return std::nullopt;
    std::uint32_t type = vexa::kRegNone;
    std::uint32_t size = 0;
    std::optional<std::string> text;
    if (registry.RegQueryValueExA(key, nullptr, nullptr, type, nullptr, size) == vexa::kRegSuccess) {
        Check(type == vexa::kRegSz && size >= 1, "the default value is a string with its NUL");
        std::string buffer(size, '?');
        std::uint32_t capacity = size;
        Check(registry.RegQueryValueExA(key, nullptr, nullptr, type, reinterpret_cast<unsigned char*>(buffer.data()),
                                        capacity) == vexa::kRegSuccess && capacity == size && buffer.back() == '\0',
              "the second call fills the size the first gave");
        text = buffer.substr(0, buffer.find('\0'));
    }
    Check(registry.RegCloseKey(key) == vexa::kRegSuccess, "an opened key closes");
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> fields = vexa::fuzz::SplitFields(data, size, 1);
    if (fields.size() == 1) fields.insert(fields.begin(), "/home/u/.local/share/vexa/Corvane.dll");
    const std::string& module = fields[0];
    const std::string& contents = fields[1];

    try {
        const std::string converted = posix::RecordTextFromRegistryFile("registry.reg", contents);
        posix::RecordRegistry record("registry.ini", converted);
        RecordedModule(record);
    } catch (const vexa::HostError&) {
        // refused: start-up reports it
    }

    std::optional<posix::RecordRegistry> record;
    try {
        record.emplace("registry.ini", contents);
    } catch (const vexa::HostError&) {
        return 0;
    }
    RecordedModule(*record);
    // What `vexa init` writes into this file.
    const std::string written = posix::ini::WriteSetting(contents, kSection, "@", module);
    try {
        posix::RecordRegistry rewritten("registry.ini", written);
        Check(RecordedModule(rewritten) == module.substr(0, module.find('\0')), "the recorded module is found", written);
    } catch (const vexa::HostError&) {
        Check(false, "a record that read still reads once the module is recorded", written);
    }
    return 0;
}
