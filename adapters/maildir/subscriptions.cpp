#include "adapters/maildir/subscriptions.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "adapters/maildir/dotlock_file.h"

namespace vexa::maildir {
namespace {

constexpr const char* kHeader = "V\t2";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

}  // namespace

std::optional<std::string> WithSubscription(const std::string& text, const std::string& name) {
    const auto lines = Lines(text);
    const bool current = text.empty() || (!lines.empty() && lines.front() == kHeader);
    std::string entry = name;
    if (current) std::replace(entry.begin(), entry.end(), '.', '\t');
    // The header and the blank line after it are no folder names, so they are skipped.
    const auto first = current && !lines.empty() ? std::min<std::size_t>(2, lines.size()) : 0;
    if (std::find(lines.begin() + static_cast<std::ptrdiff_t>(first), lines.end(), entry) != lines.end()) {
        return std::nullopt;
    }
    std::string result = text.empty() ? std::string(kHeader) + "\n\n" : text;
    if (!result.ends_with('\n')) result += '\n';
    return result + entry + "\n";
}

void Subscribe(const std::filesystem::path& root, const std::string& name) {
    RewriteLocked(root / "subscriptions", [&name](const std::string& text) { return WithSubscription(text, name); });
}

}  // namespace vexa::maildir
