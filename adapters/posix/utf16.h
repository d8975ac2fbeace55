// UTF-8 <-> UTF-16LE conversion for the registry file, whose hex(1), hex(2) and hex(7) values
// hold UTF-16LE text as Windows regedit writes it. Only FileRegistry calls these.
#pragma once

#include <string>
#include <string_view>

namespace vexa {

// Bytes that are not valid UTF-8 become U+FFFD rather than failing the whole value.
std::string Utf8ToUtf16Le(std::string_view utf8);

// Unpaired surrogates become U+FFFD; an odd trailing byte is dropped.
std::string Utf16LeToUtf8(std::string_view utf16le);

}  // namespace vexa
