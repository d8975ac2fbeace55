#include "adapters/maildir/subject_header.h"

#include <algorithm>
#include <cctype>

namespace vexa::maildir {
namespace {

bool IsContinuation(std::string_view line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

bool IsSubjectField(std::string_view line) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    constexpr std::string_view kSubject = "subject";
    return std::equal(name.begin(), name.end(), kSubject.begin(), kSubject.end(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

std::string WithLineEnds(std::string_view field, std::string_view eol) {
    std::string text;
    for (const char c : field) {
        if (c == '\n') {
            text += eol;
        } else {
            text += c;
        }
    }
    text += eol;
    return text;
}

}  // namespace

std::string ReplaceSubjectField(std::string_view message, std::string_view field) {
    std::string_view eol;
    std::size_t subjectBegin = std::string_view::npos;
    std::size_t subjectEnd = std::string_view::npos;
    std::size_t headerEnd = message.size();
    std::size_t pos = 0;
    while (pos < message.size()) {
        const auto newline = message.find('\n', pos);
        const std::size_t next = newline == std::string_view::npos ? message.size() : newline + 1;
        std::string_view line = message.substr(pos, next - pos);
        const bool hasEnd = !line.empty() && line.back() == '\n';
        const bool crlf = line.ends_with("\r\n");
        const std::string_view content = line.substr(0, line.size() - (crlf ? 2 : hasEnd ? 1 : 0));
        if (content.empty()) {
            headerEnd = pos;
            break;
        }
        if (subjectBegin != std::string_view::npos && subjectEnd == std::string_view::npos && !IsContinuation(content)) {
            subjectEnd = pos;
        }
        if (subjectBegin == std::string_view::npos && !IsContinuation(content) && IsSubjectField(content)) {
            subjectBegin = pos;
            if (hasEnd) eol = crlf ? "\r\n" : "\n";
        }
        if (eol.empty() && hasEnd) eol = crlf ? "\r\n" : "\n";
        pos = next;
    }
    if (eol.empty()) eol = "\n";

    std::string result;
    result.reserve(message.size() + field.size() + 2);
    if (subjectBegin != std::string_view::npos) {
        if (subjectEnd == std::string_view::npos) subjectEnd = headerEnd;
        result.append(message.substr(0, subjectBegin));
        result += WithLineEnds(field, eol);
        result.append(message.substr(subjectEnd));
        return result;
    }
    result.append(message.substr(0, headerEnd));
    if (!result.empty() && result.back() != '\n') result += eol;
    result += WithLineEnds(field, eol);
    result.append(message.substr(headerEnd));
    return result;
}

}  // namespace vexa::maildir
