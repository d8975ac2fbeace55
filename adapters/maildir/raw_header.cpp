#include "adapters/maildir/raw_header.h"

#include <algorithm>

namespace vexa::maildir {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    return std::string(text);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// Splits at `separator` where it is outside quoted strings.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '\\') {
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == separator && !quoted) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
    return parts;
}

std::string Unquoted(std::string_view value) {
    if (value.empty() || value.front() != '"') return std::string(value);
    std::string out;
    for (std::size_t i = 1; i < value.size(); ++i) {
        if (value[i] == '"') break;
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        out += value[i];
    }
    return out;
}

}  // namespace

std::optional<std::string> RawParameter(std::string_view field, std::string_view name) {
    const std::vector<std::string_view> parts = SplitOutsideQuotes(field, ';');
    // The first part is the type or the disposition itself.
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::size_t equals = parts[i].find('=');
        if (equals == std::string_view::npos) continue;
        if (!EqualNoCase(Trim(parts[i].substr(0, equals)), name)) continue;
        return Unquoted(Trim(parts[i].substr(equals + 1)));
    }
    return std::nullopt;
}

std::vector<RawMailbox> RawMailboxes(std::string_view field) {
    std::vector<RawMailbox> mailboxes;
    std::string phrase;
    bool quoted = false;
    int comment = 0;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if ((quoted || comment > 0) && c == '\\' && i + 1 < field.size()) {
            phrase += field.substr(i, 2);
            ++i;
        } else if (quoted) {
            phrase += c;
            if (c == '"') quoted = false;
        } else if (c == '(') {
            ++comment;
            phrase += c;
        } else if (comment > 0) {
            if (c == ')') --comment;
            phrase += c;
        } else if (c == '"') {
            quoted = true;
            phrase += c;
        } else if (c == '<') {
            const std::size_t close = field.find('>', i);
            if (close == std::string_view::npos) break;
            mailboxes.push_back({Trim(field.substr(i + 1, close - i - 1)), Trim(phrase)});
            phrase.clear();
            i = close;
        } else if (c == ',' || c == ';' || c == ':') {
            // A mailbox or a group's name ends here.
            phrase.clear();
        } else {
            phrase += c;
        }
    }
    return mailboxes;
}

}  // namespace vexa::maildir
