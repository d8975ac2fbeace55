// Taking a field of our own out of an outgoing message's header block before the message is handed
// on: vexa send reads the fax's description from X-Fax-Description:, which mail readers without
// a terminal for the prompt (mutt runs sendmail without one) can add, and which the recipient
// must not see.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vexa::cli {

inline constexpr const char* kDescriptionField = "X-Fax-Description";

struct TakenField {
    std::string message;               // every byte as it was, less the fields taken
    std::optional<std::string> value;  // the first one's value, unfolded, blanks trimmed
};

// Takes every field called `name` (in any letter case), with its continuation lines, out of the
// header block of `message` (up to its first empty line).
TakenField TakeHeaderField(std::string_view message, std::string_view name);

}  // namespace vexa::cli
