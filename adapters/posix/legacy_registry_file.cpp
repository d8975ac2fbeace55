#include "adapters/posix/legacy_registry_file.h"

#include <cerrno>
#include <optional>
#include <stdexcept>
#include <utility>

#include "adapters/posix/atomic_file.h"
#include "adapters/posix/ini_settings_store.h"
#include "adapters/posix/xdg.h"
#include "host/ascii_text.h"
#include "host/host_error.h"

namespace vexa::posix {
namespace {

constexpr std::string_view kSignature = "Windows Registry Editor Version 5.00";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\r";

std::string_view Trim(std::string_view text) {
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// A "..." string with regedit's escapes that fills the whole of `text`; nullopt otherwise.
std::optional<std::string> Unquote(std::string_view text) {
    if (!text.starts_with('"')) return std::nullopt;
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') return i + 1 == text.size() ? std::optional<std::string>(std::move(out)) : std::nullopt;
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) c = text[++i];
        out += c;
    }
    return std::nullopt;
}

}  // namespace

std::string RecordTextFromRegistryFile(const std::filesystem::path& path, std::string_view contents) {
    auto fail = [&path](std::size_t number, const std::string& reason) {
        return HostError(EINVAL, "Can't read " + path.string() + ": line " + std::to_string(number) +
                                     " is not valid because " + reason);
    };
    if (contents.starts_with(kUtf8Bom)) contents.remove_prefix(kUtf8Bom.size());
    std::string record;
    std::optional<std::string> key;
    std::size_t number = 0;
    while (!contents.empty()) {
        const std::size_t end = contents.find('\n');
        const std::string_view line = Trim(contents.substr(0, end));
        contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);
        if (++number == 1) {
            if (line != kSignature) throw fail(number, "it does not start with \"" + std::string(kSignature) + "\"");
            continue;
        }
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            if (line.size() < 3 || line.back() != ']') throw fail(number, "the key name has no closing ']'");
            key = std::string(line.substr(1, line.size() - 2));
            continue;
        }
        const std::size_t equals = line.find('=');
        const std::string_view name = Trim(line.substr(0, equals));
        const bool isDefault = name == "@";
        if (equals == std::string_view::npos || (!isDefault && !EqualsIgnoringAsciiCase(name, "\"Path\""))) {
            throw fail(number, "it is neither a key nor the key's @ or \"Path\" value");
        }
        if (!key) throw fail(number, "the value is not below a key");
        const std::optional<std::string> value = Unquote(Trim(line.substr(equals + 1)));
        if (!value) throw fail(number, "the value is not a single quoted string");
        try {
            record = ini::WriteSetting(record, *key, isDefault ? "@" : "Path", *value);
        } catch (const std::invalid_argument& e) {
            throw fail(number, e.what());
        }
    }
    return record;
}

void ImportRegistryFile(const std::filesystem::path& legacy, const std::filesystem::path& record) {
    if (ReadFileIfPresent(record)) return;
    const std::optional<std::string> old = ReadFileIfPresent(legacy);
    if (!old) return;
    WriteFileAtomically(record, RecordTextFromRegistryFile(legacy, *old));
}

std::filesystem::path LegacyRegistryPath() { return XdgConfigHome() / "vexa" / "registry.reg"; }

}  // namespace vexa::posix
