// LIKE for the archive's searches, ignoring the letter case of every letter and not of ASCII
// letters only, as the server archive's ILIKE does: "MÜLLER" finds "Müller".
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace vexa::sqlite {

// Replaces LIKE (with and without ESCAPE) on `db` for this connection. Throws HostError.
void UseCaselessLike(sqlite3* db);

// What the replaced LIKE answers: `text` matches `pattern` ('%' any run, '_' one character,
// `escape` before either takes it literally), comparing letters by their lower case. Text that is
// not UTF-8 is compared byte by byte.
bool CaselessLike(std::string_view pattern, std::string_view text, char32_t escape);

}  // namespace vexa::sqlite
