// The small rules that keep the viewer's HTTP safe with hostile archive text and foreign pages:
// reading the token from a Cookie header, comparing secrets, the host names a request may be
// addressed to, and a Content-Disposition that names a download after a stranger's file name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vexa::viewer {

// The token cookie's name is this, "_" and the viewer's port.
inline constexpr const char* kTokenCookie = "vexa_token";

// The value of cookie `name` in a Cookie header, if present.
std::optional<std::string> CookieValue(std::string_view header, std::string_view name);

// Equal, in a time that does not depend on where they differ.
bool SameSecret(std::string_view a, std::string_view b) noexcept;

// True when a Host header names the server as it listens: "HOST:PORT" for the listening host,
// or for 127.0.0.1, localhost and [::1] when it listens on the loopback. A page on another site
// that got its name pointed at 127.0.0.1 sends its own name, and is refused.
bool AddressedToUs(std::string_view hostHeader, std::string_view listenHost, int port);

// `attachment` or `inline`, with the file name as a plain ASCII fallback (anything else
// replaced by "_") and in full as RFC 5987 UTF-8.
std::string ContentDisposition(bool attachment, std::string_view fileName);

}  // namespace vexa::viewer
