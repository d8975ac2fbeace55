// Pieces of a header field's raw value, before any decoding: a parameter of Content-Type: or
// Content-Disposition:, the display names of an address field. GMime hands these out only
// decoded by its own RFC 2047 decoder, which loses words, so their raw text is read here and
// decoded by ours.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexa::maildir {

// The value of parameter `name` (not its RFC 2231 "name*" forms) in a field like
// ` attachment; filename="a b.pdf"`: unquoted, still encoded; nothing when the field has none.
std::optional<std::string> RawParameter(std::string_view field, std::string_view name);

struct RawMailbox {
    std::string address;  // between the angle brackets, blanks trimmed
    std::string phrase;   // the display name as written before them, quotes and all
};

// The mailboxes written as `phrase <address>` in an address field, groups flattened, in order.
std::vector<RawMailbox> RawMailboxes(std::string_view field);

}  // namespace vexa::maildir
