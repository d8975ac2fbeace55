// Header text as people wrote it: RFC 2047 encoded words ("=?charset?B|Q?text?=") decoded to
// UTF-8 by the host itself. GMime's own decoder loses words (one that follows a base64 word ending
// in "=" padding is dropped), and a lost caller name or file name is a lost record, so subjects,
// attachment names and display names all come through here.
#pragma once

#include <string>
#include <string_view>

namespace vexa::maildir {

// An unstructured field's raw value (Subject:, a file name parameter) as UTF-8: line folds
// removed, leading and trailing blanks trimmed, encoded words decoded. Blanks between two encoded
// words go; blanks between a word and plain text stay. The bytes of adjacent words in one charset
// are joined before conversion, as mailers split a character across words. A word that does not
// parse stays as it is written. Plain bytes, and those of a word in a charset iconv does not
// know, are read as UTF-8 when they are UTF-8 and else as Windows-1252.
std::string DecodeHeaderText(std::string_view raw);

// A display name as written in an address field: quoted strings unquoted, comments left out,
// then decoded as DecodeHeaderText does (encoded words inside quotes too, as mailers write them).
std::string DecodePhrase(std::string_view raw);

}  // namespace vexa::maildir
