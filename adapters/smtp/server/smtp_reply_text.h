// How the submission server writes a reply on the wire, and how it reads the base64 of AUTH.
// Used by the protocol state machine; kept apart so the wire format has one home.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "adapters/smtp/smtp_types.h"

namespace vexa::smtp {

// "250-first\r\n250 last\r\n": every line with the code and, when the reply has one, the
// enhanced code. A positive or negative reply without an enhanced code gets the class's generic
// one (X.0.0), so a mail program that shows enhanced codes always finds one. CR and LF inside
// the text never reach the wire as such: the text cannot inject a line of its own.
std::string FormatReply(const Reply& reply);

// RFC 4648 base64 as AUTH carries it (padding required, no white space). Nothing when the text
// is not base64.
std::optional<std::string> DecodeBase64(std::string_view text);
std::string EncodeBase64(std::string_view bytes);

// Overwrites a string that held a secret before it is released.
void Scrub(std::string& secret) noexcept;

}  // namespace vexa::smtp
