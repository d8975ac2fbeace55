// The text forms of the settings that are not text in memory, and the conversions that read
// them back. Writing gives plain decimal integers and the words "True"/"False"; reading accepts
// those and a little more (see the definitions), and fails like the host's run-time on anything
// else: "Type mismatch" for text that is no number or Boolean, "Overflow" for a number out of range.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexa {

std::string IntegerToText(std::int64_t value);
std::string BooleanToText(bool value);

// Accepts optional blanks (spaces, tabs) around an optional sign and one or more decimal digits.
// No grouping, fractions, exponents or hexadecimal: a saved position is always a plain integer,
// so anything else is a damaged setting and fails.
std::int32_t TextToInteger(std::string_view text);

// Accepts "True" and "False" in any letter case, and integers as TextToInteger reads them
// (0 is false, any other number true, as the host's run-time converts numbers), with optional
// blanks around.
bool TextToBoolean(std::string_view text);

}  // namespace vexa
