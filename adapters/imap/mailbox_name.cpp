#include "adapters/imap/mailbox_name.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "adapters/imap/imap_error.h"

namespace vexa::imap {

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
constexpr char32_t kReplacement = 0xFFFD;

bool Printable(char32_t c) { return c >= 0x20 && c <= 0x7E; }

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The code point that starts at `at` and how many bytes it takes; nothing when those bytes are
// not UTF-8 (overlong forms, surrogates and values above U+10FFFF included).
std::optional<std::pair<char32_t, std::size_t>> NextUtf8(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return std::pair{char32_t{lead}, std::size_t{1}};
    std::size_t length = 0;
    char32_t c = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (at + length > text.size()) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    return std::pair{c, length};
}

// A run of characters outside printable ASCII as "&" modified-BASE64 of their UTF-16 "-".
void AppendShifted(std::string& out, const std::vector<char16_t>& units) {
    out += '&';
    std::uint32_t bits = 0;
    int count = 0;
    for (const char16_t unit : units) {
        bits = (bits << 16) | unit;
        count += 16;
        while (count >= 6) {
            count -= 6;
            out += kAlphabet[(bits >> count) & 0x3F];
        }
        bits &= (1u << count) - 1;
    }
    if (count > 0) out += kAlphabet[(bits << (6 - count)) & 0x3F];
    out += '-';
}

// The text of one "&...-" section between its delimiters, decoded; nothing when it is not a
// well-formed one (a bad length, bits left over, a letter outside the alphabet).
std::optional<std::string> DecodeShifted(std::string_view section) {
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    char16_t high = 0;  // a high surrogate waiting for its partner
    for (const char letter : section) {
        const std::size_t value = kAlphabet.find(letter);
        if (value == std::string_view::npos) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        count += 6;
        if (count < 16) continue;
        count -= 16;
        const auto unit = static_cast<char16_t>(bits >> count);
        bits &= (1u << count) - 1;
        if (high != 0) {
            const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
            AppendUtf8(out, low ? 0x10000 + ((char32_t{high} - 0xD800) << 10) + (unit - 0xDC00) : kReplacement);
            high = 0;
            if (low) continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            high = unit;
        } else if ((unit >= 0xDC00 && unit <= 0xDFFF) || unit < 0x20 || unit == 0x7F) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    if (high != 0) AppendUtf8(out, kReplacement);
    // Leftover bits are padding: fewer than six, and zero.
    if (count >= 6 || bits != 0 || section.empty()) return std::nullopt;
    return out;
}

}  // namespace

std::string EncodeMailboxName(std::string_view utf8) {
    std::string out;
    std::vector<char16_t> run;
    for (std::size_t at = 0; at < utf8.size();) {
        const auto next = NextUtf8(utf8, at);
        if (!next)
            throw ImapError(ImapFailure::Usage, "The folder name \"" + DecodeMailboxName(utf8) + "\" is not UTF-8.");
        const auto [c, length] = *next;
        at += length;
        if (!Printable(c)) {
            if (c < 0x10000) {
                run.push_back(static_cast<char16_t>(c));
            } else {
                run.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
                run.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
            }
            continue;
        }
        if (!run.empty()) {
            AppendShifted(out, run);
            run.clear();
        }
        out += static_cast<char>(c);
        if (c == '&') out += '-';
    }
    if (!run.empty()) AppendShifted(out, run);
    return out;
}

std::string DecodeMailboxName(std::string_view wire) {
    std::string out;
    for (std::size_t at = 0; at < wire.size();) {
        const char c = wire[at];
        if (c == '&') {
            const std::size_t end = wire.find_first_not_of(kAlphabet, at + 1);
            if (end != std::string_view::npos && wire[end] == '-') {
                if (end == at + 1) {
                    out += '&';
                    at = end + 1;
                    continue;
                }
                if (const auto decoded = DecodeShifted(wire.substr(at + 1, end - at - 1))) {
                    out += *decoded;
                    at = end + 1;
                    continue;
                }
            }
            // Not a section that decodes: shown as written, letter by letter.
            out += c;
            ++at;
            continue;
        }
        const auto next = NextUtf8(wire, at);
        if (!next) {
            AppendUtf8(out, kReplacement);
            ++at;
            continue;
        }
        const auto [point, length] = *next;
        if (point < 0x20 || point == 0x7F) {
            AppendUtf8(out, kReplacement);
        } else {
            out.append(wire.substr(at, length));
        }
        at += length;
    }
    return out;
}

}  // namespace vexa::imap
