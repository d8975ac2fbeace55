#include "settings/conversions.h"

#include <limits>

#include "host/ascii_text.h"
#include "host/host_error.h"

namespace vexa {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

std::string IntegerToText(std::int64_t value) { return std::to_string(value); }

std::string BooleanToText(bool value) { return value ? "True" : "False"; }

std::int32_t TextToInteger(std::string_view text) {
    std::string_view digits = TrimBlanks(text);
    bool negative = false;
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) throw error::TypeMismatch();
    // Accumulate in 64 bits; a run of digits longer than any 32-bit value is an overflow.
    std::int64_t magnitude = 0;
    bool overflow = false;
    for (char c : digits) {
        if (c < '0' || c > '9') throw error::TypeMismatch();
        if (!overflow) {
            magnitude = magnitude * 10 + (c - '0');
            if (magnitude > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) overflow = true;
        }
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (overflow || value > std::numeric_limits<std::int32_t>::max() ||
        value < std::numeric_limits<std::int32_t>::min()) {
        throw error::Overflow();
    }
    return static_cast<std::int32_t>(value);
}

bool TextToBoolean(std::string_view text) {
    const std::string_view word = TrimBlanks(text);
    if (EqualsIgnoringAsciiCase(word, "True")) return true;
    if (EqualsIgnoringAsciiCase(word, "False")) return false;
    return TextToInteger(word) != 0;
}

}  // namespace vexa
