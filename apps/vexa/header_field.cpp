#include "apps/vexa/header_field.h"

#include <cctype>

namespace vexa::cli {
namespace {

// RFC 5322's obsolete syntax allows blanks between the name and the colon; a field written so
// must be taken too, or it reaches the recipient. `valueAt` is where the value starts.
bool StartsWithField(std::string_view line, std::string_view name, std::size_t& valueAt) {
    std::size_t colon = name.size();
    while (colon < line.size() && (line[colon] == ' ' || line[colon] == '\t')) ++colon;
    if (colon >= line.size() || line[colon] != ':') return false;
    valueAt = colon + 1;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

TakenField TakeHeaderField(std::string_view message, std::string_view name) {
    TakenField taken;
    std::size_t pos = 0;
    bool inField = false;     // the line being read belongs to a field that is taken
    bool firstField = false;  // ... and that field is the first one, which gives the value
    while (pos < message.size()) {
        const std::size_t newline = message.find('\n', pos);
        const std::size_t next = newline == std::string_view::npos ? message.size() : newline + 1;
        const std::string_view line = message.substr(pos, next - pos);
        std::string_view text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
        if (text.empty()) break;  // the end of the header block: the body is never looked at
        if (text.front() != ' ' && text.front() != '\t') {
            std::size_t valueAt = 0;
            inField = StartsWithField(text, name, valueAt);
            firstField = inField && !taken.value;
            if (firstField) taken.value = std::string(text.substr(valueAt));
        } else if (inField && firstField) {
            // Unfolding takes out the line break only.
            *taken.value += text;
        }
        if (!inField) taken.message.append(line);
        pos = next;
    }
    taken.message.append(message.substr(pos));
    if (taken.value) taken.value = std::string(Trim(*taken.value));
    return taken;
}

}  // namespace vexa::cli
