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

// Text the client chose (a login name, an address, a reply that may quote one) as it may stand
// in a log line: control bytes and DEL as \xHH, so it can neither start a line of its own nor
// drive a terminal, and at most `limit` bytes of it, "..." marking the cut.
std::string LogText(std::string_view text, std::size_t limit = 200);

// Overwrites a string that held a secret before it is released.
void Scrub(std::string& secret) noexcept;

}  // namespace vexa::smtp
