#include "adapters/maildir/rfc2047.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "adapters/maildir/mime_message.h"
#include "adapters/maildir/mime_text.h"

namespace vexa::maildir {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool SameCharset(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsBase64Letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Base64 letters, then at most two "=": anything else is no base64 word. Missing padding is
// forgiven, as every mail reader does.
std::optional<std::string> DecodeB(std::string_view text) {
    const std::size_t letters = text.find_first_not_of(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    const std::string_view padding = letters == std::string_view::npos ? std::string_view() : text.substr(letters);
    if (padding.size() > 2 || padding.find_first_not_of('=') != std::string_view::npos) return std::nullopt;
    if (!std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(text.size() - padding.size()), IsBase64Letter)) {
        return std::nullopt;
    }
    const std::size_t letterCount = text.size() - padding.size();
    // One letter alone in a group holds no whole byte.
    if (letterCount % 4 == 1) return std::nullopt;
    // The decoder holds back a group that is not complete: the padding it lacks is added.
    std::string group(text.substr(0, letterCount));
    group.append((4 - letterCount % 4) % 4, '=');
    std::string out(group.size() * 3 / 4 + 3, '\0');
    int state = 0;
    guint32 save = 0;
    const std::size_t n = g_mime_encoding_base64_decode_step(reinterpret_cast<const unsigned char*>(group.data()), group.size(),
                                                             reinterpret_cast<unsigned char*>(out.data()), &state, &save);
    out.resize(n);
    return out;
}

// "_" is a space and "=XX" a byte; an "=" that starts no byte is kept as written.
std::string DecodeQ(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

struct Piece {
    bool word = false;
    std::string bytes;    // decoded bytes of a word, or plain text as written
    std::string charset;  // of a word, without an RFC 2231 language
};

bool IsPrintable(char c) { return c > ' ' && c < 0x7F; }

// The first "?" from `from` on, or npos when a blank, a control character or the end comes first:
// a word holds printable ASCII only, so none is looked for through the rest of a long field.
std::size_t FindMark(std::string_view text, std::size_t from) {
    for (std::size_t i = from; i < text.size() && IsPrintable(text[i]); ++i) {
        if (text[i] == '?') return i;
    }
    return std::string_view::npos;
}

// The encoded word at the start of `text`, and its length; nothing when none starts there.
std::optional<std::pair<Piece, std::size_t>> EncodedWord(std::string_view text) {
    if (text.substr(0, 2) != "=?") return std::nullopt;
    const std::size_t charsetEnd = FindMark(text, 2);
    if (charsetEnd == std::string_view::npos || charsetEnd == 2 || charsetEnd + 2 >= text.size()) return std::nullopt;
    const std::string_view charset = text.substr(2, charsetEnd - 2);
    const char encoding = Lower(text[charsetEnd + 1]);
    if ((encoding != 'b' && encoding != 'q') || text[charsetEnd + 2] != '?') return std::nullopt;
    const std::size_t start = charsetEnd + 3;
    const std::size_t end = FindMark(text, start);
    if (end == std::string_view::npos || end + 1 >= text.size() || text[end + 1] != '=') return std::nullopt;
    const std::string_view encoded = text.substr(start, end - start);

    Piece piece;
    piece.word = true;
    piece.charset = std::string(charset.substr(0, charset.find('*')));
    if (encoding == 'b') {
        std::optional<std::string> bytes = DecodeB(encoded);
        if (!bytes) return std::nullopt;
        piece.bytes = std::move(*bytes);
    } else {
        piece.bytes = DecodeQ(encoded);
    }
    return std::make_pair(std::move(piece), end + 2);
}

// Plain text and encoded words in order. A word is recognised wherever "=?" starts one, even
// inside other text ("Fax=?UTF-8?Q?_f=C3=BCr?="), as mail readers do: mailers write them so.
std::vector<Piece> Split(std::string_view text) {
    std::vector<Piece> pieces;
    std::string plain;
    const auto flushPlain = [&] {
        if (!plain.empty()) pieces.push_back({false, std::move(plain), {}});
        plain.clear();
    };
    for (std::size_t i = 0; i < text.size();) {
        if (auto found = EncodedWord(text.substr(i))) {
            flushPlain();
            pieces.push_back(std::move(found->first));
            i += found->second;
        } else {
            plain += text[i++];
        }
    }
    flushPlain();
    return pieces;
}

bool AllBlank(std::string_view text) { return std::all_of(text.begin(), text.end(), IsBlank); }

std::string PlainText(const std::string& bytes) {
    const std::string valid = ValidUtf8(bytes);
    return valid == bytes ? valid : CharsetToUtf8(bytes, "WINDOWS-1252");
}

// A charset iconv knows: its bytes are converted, anything they do not allow becomes U+FFFD.
bool KnownCharset(const std::string& charset) {
    EnsureGMime();
    const iconv_t cd = g_mime_iconv_open("UTF-8", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) return false;
    g_mime_iconv_close(cd);
    return true;
}

// A charset nobody knows tells nothing about the bytes: they are read as plain text is.
std::string WordText(const Piece& word) {
    return KnownCharset(word.charset) ? CharsetToUtf8(word.bytes, word.charset.c_str()) : PlainText(word.bytes);
}

std::string Decode(std::string_view unfolded) {
    std::vector<Piece> pieces = Split(unfolded);
    std::string out;
    std::optional<Piece> pending;  // words in one charset, joined until the charset changes
    const auto flushWord = [&] {
        if (pending) out += WordText(*pending);
        pending.reset();
    };
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        Piece& piece = pieces[i];
        if (!piece.word) {
            const bool betweenWords = i > 0 && i + 1 < pieces.size() && pieces[i - 1].word && pieces[i + 1].word;
            if (betweenWords && AllBlank(piece.bytes)) continue;
            flushWord();
            out += PlainText(piece.bytes);
        } else if (pending && SameCharset(pending->charset, piece.charset)) {
            pending->bytes += piece.bytes;
        } else {
            flushWord();
            pending = std::move(piece);
        }
    }
    flushWord();
    return out;
}

// Line breaks removed (every one in a field's value is a fold), blanks trimmed at both ends.
std::string Unfold(std::string_view raw) {
    std::string text;
    text.reserve(raw.size());
    for (const char c : raw) {
        if (c != '\r' && c != '\n') text += c;
    }
    const auto first = std::find_if_not(text.begin(), text.end(), IsBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), IsBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

}  // namespace

std::string DecodeHeaderText(std::string_view raw) { return Decode(Unfold(raw)); }

std::string DecodePhrase(std::string_view raw) {
    const std::string text = Unfold(raw);
    std::string phrase;
    bool quoted = false;
    int comment = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && (quoted || comment > 0) && i + 1 < text.size()) {
            if (comment == 0) phrase += text[i + 1];
            ++i;
        } else if (c == '"' && comment == 0) {
            quoted = !quoted;
        } else if (c == '(' && !quoted) {
            ++comment;
        } else if (c == ')' && !quoted && comment > 0) {
            --comment;
        } else if (comment == 0) {
            phrase += c;
        }
    }
    return Decode(Unfold(phrase));
}

}  // namespace vexa::maildir
