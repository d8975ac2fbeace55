#include "adapters/maildir/dovecot_keywords.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <sstream>

#include "adapters/maildir/dotlock_file.h"

namespace vexa::maildir {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kLetters = 26;
constexpr const char* kKeywordsFile = "dovecot-keywords";

bool IsKeywordLetter(char c) { return c >= 'a' && c <= 'z'; }

std::optional<char> LetterOf(const std::string& name, KeywordNames& names) {
    const auto found = std::find(names.begin(), names.end(), name);
    if (found != names.end()) return static_cast<char>('a' + (found - names.begin()));
    const auto freeSlot = std::find(names.begin(), names.end(), std::string());
    if (freeSlot != names.end()) {
        *freeSlot = name;
        return static_cast<char>('a' + (freeSlot - names.begin()));
    }
    if (names.size() >= kLetters) return std::nullopt;
    names.push_back(name);
    return static_cast<char>('a' + names.size() - 1);
}

}  // namespace

KeywordNames ParseKeywords(const std::string& text) {
    KeywordNames names;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto space = line.find(' ');
        if (space == std::string::npos || space + 1 == line.size()) continue;
        std::size_t index = 0;
        const auto [end, err] = std::from_chars(line.data(), line.data() + space, index);
        if (err != std::errc() || end != line.data() + space || index >= kLetters) continue;
        if (names.size() <= index) names.resize(index + 1);
        names[index] = line.substr(space + 1);
    }
    return names;
}

std::string FormatKeywords(const KeywordNames& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!names[i].empty()) text += std::to_string(i) + " " + names[i] + "\n";
    }
    return text;
}

std::string TranslateKeywords(const std::string& flags, const KeywordNames& from, KeywordNames& to) {
    const auto named = [&from](char c) {
        const auto index = static_cast<std::size_t>(c - 'a');
        return index < from.size() && !from[index].empty();
    };
    std::string result;
    for (const char c : flags) {
        if (!IsKeywordLetter(c)) {
            result += c;
        } else if (named(c)) {
            if (const auto letter = LetterOf(from[static_cast<std::size_t>(c - 'a')], to)) result += *letter;
        }
    }
    // Letters without a name last, so that a name given a free letter above takes precedence.
    for (const char c : flags) {
        const auto index = static_cast<std::size_t>(c - 'a');
        if (IsKeywordLetter(c) && !named(c) && (index >= to.size() || to[index].empty())) result += c;
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

std::string CarryKeywords(const std::string& flags, const fs::path& fromFolder, const fs::path& toFolder) {
    if (std::none_of(flags.begin(), flags.end(), IsKeywordLetter)) return flags;
    const KeywordNames from = ParseKeywords(ReadSmallFile(fromFolder / kKeywordsFile));
    const fs::path target = toFolder / kKeywordsFile;
    KeywordNames to = ParseKeywords(ReadSmallFile(target));
    const KeywordNames before = to;
    std::string translated = TranslateKeywords(flags, from, to);
    if (to == before) return translated;
    // Names to add: again under the lock, against the list as it is then.
    RewriteLocked(target, [&](const std::string& text) -> std::optional<std::string> {
        KeywordNames current = ParseKeywords(text);
        const KeywordNames unchanged = current;
        translated = TranslateKeywords(flags, from, current);
        if (current == unchanged) return std::nullopt;
        return FormatKeywords(current);
    });
    return translated;
}

}  // namespace vexa::maildir
