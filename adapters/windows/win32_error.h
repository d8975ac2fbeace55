// The edge between Win32 and the rest of the add-in: Win32 error codes become HostError, and
// UTF-8 text becomes the UTF-16 the W entry points take. Every Windows adapter calls these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/host_error.h"

namespace vexa::windows {

// The number is `code` itself, the description the system's text for it (FormatMessageW) in
// UTF-8 without the line break the system appends. Codes the system has no text for get
// "Error <code>".
HostError Win32Error(std::uint32_t code);
// As above, with `context` ("Can't remove C:\Fax\R0000001.tif") and a colon before the
// system's text, so a message box says what was being attempted.
HostError Win32Error(const std::string& context, std::uint32_t code);

// Malformed input becomes U+FFFD rather than an error: the text is shown or used as a name,
// and a replaced character there is better than a refused operation.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

}  // namespace vexa::windows
