// Text as the Maildir host hands it to the add-in: always valid UTF-8, whatever the message
// declared. Mail says which charset its text is in and often lies (Latin-1 declared as UTF-8,
// a charset nobody knows, bytes the charset does not allow); the archive keeps text as UTF-8 and
// must never receive bytes that are none. Used by the message's Body() and by attachment names.
#pragma once

#include <string>
#include <string_view>

namespace vexa::maildir {

// `text` with every byte that starts no valid UTF-8 sequence (and every overlong form, surrogate
// or code point beyond U+10FFFF) replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// `bytes` in `charset` as UTF-8. Bytes the charset does not allow become U+FFFD and the
// conversion goes on after them; an unknown charset, or none, reads as UTF-8. NUL bytes are
// dropped: they are no text, and a C string would end at them.
std::string CharsetToUtf8(std::string_view bytes, const char* charset);

// An attachment's name as the add-in shows and stores it: valid UTF-8, and every control
// character (line breaks, tabs, escape sequences, DEL, C1 controls) replaced by "_", since none
// belongs in a file name and a line break would split the name wherever it is shown.
std::string AttachmentNameText(std::string_view name);

}  // namespace vexa::maildir
