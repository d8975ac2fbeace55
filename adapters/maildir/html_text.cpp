#include "adapters/maildir/html_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <utility>

namespace vexa::maildir {
namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

void AppendUtf8(std::string& out, std::uint32_t code) {
    // NUL, surrogates and anything past Unicode would make the text invalid UTF-8.
    if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) code = 0xFFFD;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The text an entity stands for, or nothing when `name` (between "&" and ";") is not one we know.
bool DecodeEntity(std::string_view name, std::string& out) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 7> kNamed{{
        {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"#39", "'"}, {"nbsp", " "},
    }};
    for (const auto& [entity, text] : kNamed) {
        if (name == entity) {
            out += text;
            return true;
        }
    }
    if (name.size() < 2 || name[0] != '#') return false;
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    std::uint32_t code = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) return false;
    AppendUtf8(out, code);
    return true;
}

class Renderer {
public:
    void Text(char c) {
        if (IsHtmlSpace(c)) {
            pendingSpace_ = true;
            return;
        }
        Literal(std::string_view(&c, 1));
    }
    // Text that is not collapsed: decoded entities (a &nbsp; stays a space of its own).
    void Literal(std::string_view text) {
        if (pendingSpace_ && !out_.empty() && out_.back() != '\n') out_ += ' ';
        pendingSpace_ = false;
        out_ += text;
    }
    void LineBreak() {
        TrimLineEnd();
        out_ += '\n';
        pendingSpace_ = false;
    }
    // A block boundary starts a new line unless one has just started.
    void BlockBreak() {
        TrimLineEnd();
        if (!out_.empty() && out_.back() != '\n') out_ += '\n';
        pendingSpace_ = false;
    }
    std::string Finish() {
        TrimLineEnd();
        while (!out_.empty() && out_.back() == '\n') out_.pop_back();
        const auto first = out_.find_first_not_of('\n');
        return first == std::string::npos ? std::string() : out_.substr(first);
    }

private:
    void TrimLineEnd() {
        while (!out_.empty() && out_.back() == ' ') out_.pop_back();
    }
    std::string out_;
    bool pendingSpace_ = false;
};

}  // namespace

std::string HtmlToPlainText(std::string_view html) {
    Renderer text;
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') {
            if (html.substr(i, 4) == "<!--") {
                const auto close = html.find("-->", i + 4);
                i = close == std::string_view::npos ? html.size() : close + 3;
                continue;
            }
            const auto close = html.find('>', i + 1);
            if (close == std::string_view::npos) break;
            const std::string_view tag = html.substr(i + 1, close - i - 1);
            i = close + 1;
            const bool closing = !tag.empty() && tag.front() == '/';
            const std::string_view rest = tag.substr(closing ? 1 : 0);
            const auto nameEnd = std::find_if(rest.begin(), rest.end(),
                                              [](char ch) { return IsHtmlSpace(ch) || ch == '/' || ch == '>'; });
            const std::string name = Lower(std::string_view(rest.begin(), nameEnd));
            if (!closing && (name == "head" || name == "script" || name == "style" || name == "title")) {
                // Their content is never shown; skip to the matching end tag.
                const auto end = Lower(html.substr(i)).find("</" + name);
                i = end == std::string::npos ? html.size() : i + end;
                continue;
            }
            if (name == "br") {
                text.LineBreak();
            } else if (name == "p" || name == "div" || name == "tr" || name == "li" ||
                       (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6')) {
                text.BlockBreak();
            }
            continue;
        }
        if (c == '&') {
            const auto semicolon = html.find(';', i + 1);
            std::string decoded;
            if (semicolon != std::string_view::npos && semicolon - i <= 10 &&
                DecodeEntity(html.substr(i + 1, semicolon - i - 1), decoded)) {
                text.Literal(decoded);
                i = semicolon + 1;
                continue;
            }
        }
        text.Text(c);
        ++i;
    }
    return text.Finish();
}

}  // namespace vexa::maildir
