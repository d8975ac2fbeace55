// What a mail item is to the add-in: the message kinds and confirmation outcomes that the
// handlers and store procedures act on, and the text test that recognition uses throughout.
#pragma once

#include <cstdint>
#include <string_view>

namespace vexa {

enum class MessageKind : std::int16_t {
    mkNone = 0,          // not the service's traffic, or not decidable
    mkIncoming = 1,      // a fax or voice message the service delivered
    mkOutgoing = 2,      // a fax sent through the service's gateway
    mkConfirmation = 3,  // the service's report on a transmission
};

enum class ConfirmOutcome : std::int16_t {
    coNone = 0,
    coSuccessful = 1,
    coUnsuccessful = 2,
};

inline constexpr const char* kSuccessfulPhrase = "Successful transmission to ";
inline constexpr const char* kUnsuccessfulPhrase = "Unsuccessful Fax Transmission";

// True when `criterion` occurs anywhere in `text`, ASCII letters compared without case. Nothing is
// trimmed or split. An empty criterion matches nothing: a criterion cleared by mistake would
// otherwise take every mail with an attachment for a fax and move it out of the Inbox.
bool Contains(std::string_view text, std::string_view criterion);

}  // namespace vexa
