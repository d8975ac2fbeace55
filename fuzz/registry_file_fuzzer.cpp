// The Linux registry file (registry.reg, regedit's export format), on any bytes: start-up reads
// the installation folder from it, and `vexa init` rewrites it. A file either reads or is refused
// with HostError; what reads, writes back so that reading it again gives the same registry, and a
// string set reads back from the file as set.
//
// Input: a key path below HKEY_LOCAL_MACHINE, a value name and a text value, each ended by a NUL,
// then the file's bytes. An input with fewer NULs is all file, with the installer's own names.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adapters/posix/file_registry.h"
#include "fuzz/fuzz_support.h"
#include "host/host_error.h"

namespace {

using vexa::fuzz::Check;

constexpr const char* kAppPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll";

// The file is named in error messages only until a value is set; one per process is enough.
const vexa::fuzz::ScratchDir& Scratch() {
    static const vexa::fuzz::ScratchDir dir("registry");
    return dir;
}

// The value's bytes as RegQueryValueExA hands them out, asked for as the add-in asks: the size
// first, then the data into a buffer of exactly that size.
std::optional<std::string> Query(vexa::FileRegistry& registry, vexa::RegKey root, const std::string& subKey,
                                 const std::string& valueName) {
    vexa::RegKey key = 0;
    if (registry.RegOpenKeyA(root, subKey.c_str(), key) != vexa::kRegSuccess) return std::nullopt;
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    std::optional<std::string> bytes;
    if (registry.RegQueryValueExA(key, valueName.c_str(), nullptr, type, nullptr, size) == vexa::kRegSuccess) {
        std::vector<unsigned char> buffer(size);
        std::uint32_t capacity = size;
        Check(registry.RegQueryValueExA(key, valueName.c_str(), nullptr, type, buffer.data(), capacity) ==
                      vexa::kRegSuccess &&
                  capacity == size,
              "a value fits the size the registry asked for");
        if (size > 0) {
            std::uint32_t tooSmall = size - 1;
            Check(registry.RegQueryValueExA(key, valueName.c_str(), nullptr, type, buffer.data(), tooSmall) ==
                          vexa::kRegMoreData &&
                      tooSmall == size,
                  "a buffer one byte short gives ERROR_MORE_DATA and the size needed");
        }
        bytes = std::string(buffer.begin(), buffer.end());
    }
    Check(registry.RegCloseKey(key) == vexa::kRegSuccess, "an opened key closes");
    return bytes;
}

// The keys a path names: empty parts between backslashes do not count.
std::size_t Levels(std::string_view path) {
    std::size_t levels = 0;
    for (std::size_t at = 0; at < path.size(); ++at) {
        levels += path[at] != '\\' && (at == 0 || path[at - 1] == '\\');
    }
    return levels;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                           : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
        if (length == 0 || at + length > text.size()) return false;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80) return false;
            c = (c << 6) | (next & 0x3F);
        }
        static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        at += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> fields = vexa::fuzz::SplitFields(data, size, 3);
    if (fields.size() == 1) fields.insert(fields.begin(), {kAppPathsKey, "", "/home/user/.local/share/vexa/Corvane.dll"});
    const std::string& subKey = fields[0];
    const std::string& valueName = fields[1];
    const std::string& value = fields[2];
    const std::string& contents = fields[3];
    const std::filesystem::path file = Scratch().Path() / "registry.reg";

    std::optional<vexa::FileRegistry> registry;
    try {
        registry.emplace(file, contents);
    } catch (const vexa::HostError&) {
        return 0;  // refused, as start-up refuses it; anything else thrown is a finding
    }
    Query(*registry, vexa::kHkeyLocalMachine, subKey, valueName);
    Query(*registry, vexa::kHkeyCurrentUser, subKey, valueName);

    // What a save writes reads back as the same registry.
    const std::string text = registry->Text();
    Check(vexa::FileRegistry(file, text).Text() == text, "a saved registry reads back the same", text);

    // Windows refuses names with line breaks and trees deeper than 512 keys; so does the file.
    const bool storable = subKey.find_first_of("\r\n") == std::string::npos &&
                          valueName.find_first_of("\r\n") == std::string::npos && Levels(subKey) <= 512;
    try {
        registry->SetString(vexa::kHkeyLocalMachine, subKey, valueName, value);
    } catch (const vexa::HostError&) {
        Check(!storable, "a name without line breaks, not too deep, can be set");
        return 0;
    }
    Check(storable, "a name with a line break, or a key too deep, is refused");
    vexa::FileRegistry reread(file);
    Check(reread.Text() == registry->Text(), "the file holds what the registry holds");
    // Text goes out as UTF-16 when it has a line break; only valid UTF-8 survives that unchanged.
    if (IsValidUtf8(value)) {
        Check(Query(reread, vexa::kHkeyLocalMachine, subKey, valueName) == value + '\0',
              "a string set reads back from the file as set", value);
    }
    return 0;
}
