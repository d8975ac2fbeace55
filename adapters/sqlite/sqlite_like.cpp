#include "adapters/sqlite/sqlite_like.h"

#include <locale.h>
#include <wctype.h>

#include <vector>

#include "host/host_error.h"

namespace vexa::sqlite {
namespace {

// The case mappings of Unicode, as the C library knows them for UTF-8 text.
locale_t Utf8Ctype() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

char32_t Lower(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
    const locale_t locale = Utf8Ctype();
    return locale ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), locale)) : c;
}

// The code points of UTF-8 `text`; a byte that starts no valid sequence stands for itself (as
// 0xDC00 + byte, which no decoded character can be), so nothing is lost or merged.
std::vector<char32_t> Decode(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const int length = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 0;
        char32_t c = length == 1 ? byte : length == 2 ? byte & 0x1F : length == 3 ? byte & 0x0F : byte & 0x07;
        bool valid = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid) {
            out.push_back(0xDC00 + byte);
            ++i;
            continue;
        }
        out.push_back(c);
        i += static_cast<std::size_t>(length);
    }
    return out;
}

bool Match(const std::vector<char32_t>& pattern, const std::vector<char32_t>& text, char32_t escape) {
    // Iterative with one backtracking point per '%': linear in practice, never exponential.
    std::size_t p = 0, t = 0, starP = std::string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '%') {
            starP = ++p;
            starT = t;
            continue;
        }
        if (p < pattern.size()) {
            char32_t want = pattern[p];
            bool literal = false;
            std::size_t step = 1;
            if (want == escape && p + 1 < pattern.size()) {
                want = pattern[p + 1];
                literal = true;
                step = 2;
            }
            if ((!literal && want == '_') || Lower(want) == Lower(text[t])) {
                p += step;
                ++t;
                continue;
            }
        }
        if (starP == std::string::npos) return false;
        p = starP;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == '%') ++p;
    return p == pattern.size();
}

void LikeFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
    // like(pattern, text[, escape]); NULL in, NULL out.
    for (int i = 0; i < argc; ++i) {
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return;
    }
    const auto text = [](sqlite3_value* value) {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(value));
        return std::string_view(bytes ? bytes : "", static_cast<std::size_t>(sqlite3_value_bytes(value)));
    };
    char32_t escape = 0xFFFFFFFF;
    if (argc == 3) {
        const auto escapes = Decode(text(argv[2]));
        if (escapes.size() != 1) {
            sqlite3_result_error(context, "ESCAPE expression must be a single character", -1);
            return;
        }
        escape = escapes.front();
    }
    sqlite3_result_int(context, CaselessLike(text(argv[0]), text(argv[1]), escape) ? 1 : 0);
}

}  // namespace

bool CaselessLike(std::string_view pattern, std::string_view text, char32_t escape) {
    return Match(Decode(pattern), Decode(text), escape);
}

void UseCaselessLike(sqlite3* db) {
    for (const int args : {2, 3}) {
        if (sqlite3_create_function(db, "like", args, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, LikeFunction, nullptr,
                                    nullptr) != SQLITE_OK) {
            throw HostError(EINVAL, std::string("Can't set up the archive's search: ") + sqlite3_errmsg(db));
        }
    }
}

}  // namespace vexa::sqlite
