// Folder names between the user's words and the wire: IMAP servers without UTF8=ACCEPT write
// names outside printable ASCII in modified UTF-7 (RFC 3501 5.1.3), "Faxe B&APw-ro" for
// "Faxe Büro", and refuse or mangle names sent as UTF-8. Standard C++ only.
#pragma once

#include <string>
#include <string_view>

namespace vexa::imap {

// The name as the server wants it. Throws ImapError (Usage) when `utf8` is not UTF-8, which
// only a hand-edited settings file can bring about.
std::string EncodeMailboxName(std::string_view utf8);

// The name as a user reads it: always valid UTF-8 and never throws, whatever the server sent.
// What cannot be decoded is kept visible rather than dropped: a malformed "&...-" section stays
// as written, a lone surrogate, a control character or a byte that is not UTF-8 becomes U+FFFD.
// A name already in UTF-8 (a server that speaks UTF8=ACCEPT) passes through.
std::string DecodeMailboxName(std::string_view wire);

}  // namespace vexa::imap
