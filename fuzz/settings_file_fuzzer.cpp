// The Linux settings file (settings.ini) as the store reads and rewrites it, on any text a user,
// an editor or a broken disk may have left there. A value saved must read back as saved, and a
// save must leave every other setting and line as it was.
//
// Input: section, key, value, a second section and a second key, each ended by a NUL, then the
// file's text. An input with fewer NULs is all file text, with the options' own names.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "adapters/posix/ini_settings_store.h"
#include "fuzz/fuzz_support.h"
#include "host/ascii_text.h"

namespace {

using vexa::fuzz::Check;
namespace ini = vexa::posix::ini;

// Lines as the store splits the file: at each LF, without an empty last line after a final LF.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The same setting, as the store matches names: blanks around them ignored, ASCII case too.
bool SameSetting(const std::string& s1, const std::string& k1, const std::string& s2, const std::string& k2) {
    return vexa::EqualsIgnoringAsciiCase(Trimmed(s1), Trimmed(s2)) && vexa::EqualsIgnoringAsciiCase(Trimmed(k1), Trimmed(k2));
}

// Every line of `before` is still in `after`, in order, apart from the one line a save of an
// existing key rewrites; a new key adds at most a blank line, a section header and its own line
// (a new section goes in front of the first one).
// A byte order mark stays the file's first bytes whatever line comes first: it is no part of a line.
std::string_view WithoutBom(std::string_view text) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    return text.starts_with(kBom) ? text.substr(kBom.size()) : text;
}

void CheckOtherLinesKept(std::string_view before, std::string_view after, bool keyExisted) {
    auto old = Lines(before);
    auto now = Lines(after);
    if (!old.empty()) old.front() = WithoutBom(old.front());
    if (!now.empty()) now.front() = WithoutBom(now.front());
    if (keyExisted) {
        Check(now.size() == old.size(), "saving an existing key keeps the number of lines");
        std::size_t changed = 0;
        for (std::size_t i = 0; i < old.size(); ++i) changed += old[i] != now[i];
        Check(changed <= 1, "saving an existing key changes one line at most");
        return;
    }
    Check(now.size() > old.size() && now.size() <= old.size() + 3, "saving a new key adds one to three lines");
    std::size_t matched = 0;
    for (std::size_t i = 0; i < now.size() && matched < old.size(); ++i) matched += now[i] == old[matched];
    Check(matched == old.size(), "saving a new key keeps every other line in order");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> fields = vexa::fuzz::SplitFields(data, size, 5);
    if (fields.size() == 1) fields.insert(fields.begin(), {"Options", "InCriteria", "fax@example.com", "Options", "OutCriteria"});
    const std::string& section = fields[0];
    const std::string& key = fields[1];
    const std::string& value = fields[2];
    const std::string& otherSection = fields[3];
    const std::string& otherKey = fields[4];
    const std::string& contents = fields[5];

    const std::optional<std::string> before = ini::ReadSetting(contents, section, key);
    const std::optional<std::string> otherBefore = ini::ReadSetting(contents, otherSection, otherKey);

    std::string saved;
    try {
        saved = ini::WriteSetting(contents, section, key, value);
    } catch (const std::invalid_argument&) {
        // Refused names are never found either.
        Check(!before, "a name the file cannot hold is never read from it");
        return 0;
    }
    Check(ini::ReadSetting(saved, section, key) == value, "a saved value reads back as saved",
          saved);
    if (!SameSetting(section, key, otherSection, otherKey)) {
        Check(ini::ReadSetting(saved, otherSection, otherKey) == otherBefore, "a save leaves other settings alone",
              saved);
    }
    CheckOtherLinesKept(contents, saved, before.has_value());
    Check(ini::WriteSetting(saved, section, key, value) == saved, "saving the same value again changes nothing",
          saved);
    return 0;
}
