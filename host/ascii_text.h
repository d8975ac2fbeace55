// Letter case of ASCII text, as the add-in compares names and addresses: only A-Z and a-z fold,
// every other byte (UTF-8 included) must match exactly. Shared by the core and the adapters.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace vexa {

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return AsciiLower(c); });
    return lower;
}

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

// Where `needle` first occurs in `text`, letter case ignored; npos when it does not.
inline std::size_t FindIgnoringAsciiCase(std::string_view text, std::string_view needle) {
    const auto found = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                                   [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
    return found == text.end() && !needle.empty() ? std::string_view::npos
                                                  : static_cast<std::size_t>(found - text.begin());
}

}  // namespace vexa
