#include "adapters/paths/path_rules.h"

#include <string_view>

namespace vexa::paths {
namespace {

struct Rules {
    std::string_view separators;
    char separator;
    bool drives;
};

constexpr Rules kWindows{"\\/", '\\', true};
constexpr Rules kPosix{"/", '/', false};

bool IsSeparator(const Rules& rules, char c) { return rules.separators.find(c) != std::string_view::npos; }

// Length of the root that a parent never loses: "C:", "C:\", "\", "\\server\share\" or "/".
std::size_t RootLength(const Rules& rules, std::string_view path) {
    std::size_t length = 0;
    if (rules.drives && path.size() >= 2 && path[1] == ':') {
        length = 2;
    } else if (rules.drives && path.size() >= 2 && IsSeparator(rules, path[0]) && IsSeparator(rules, path[1])) {
        // A UNC share: the server and share names belong to the root.
        std::size_t at = 2;
        for (int part = 0; part < 2 && at <= path.size(); ++part) {
            while (at < path.size() && !IsSeparator(rules, path[at])) ++at;
            if (part == 0 && at < path.size()) ++at;
        }
        return at;
    }
    if (length < path.size() && IsSeparator(rules, path[length])) ++length;
    return length;
}

std::string ParentFolder(const Rules& rules, std::string_view path) {
    const std::size_t root = RootLength(rules, path);
    std::size_t end = path.size();
    while (end > root && IsSeparator(rules, path[end - 1])) --end;  // trailing separators
    while (end > root && !IsSeparator(rules, path[end - 1])) --end;  // the last component
    while (end > root && IsSeparator(rules, path[end - 1])) --end;  // the separators before it
    if (end <= root) {
        // Only the root is left; a bare name has no parent at all.
        return std::string(path.substr(0, root == path.size() ? 0 : root));
    }
    return std::string(path.substr(0, end));
}

std::string Extension(const Rules& rules, std::string_view path) {
    std::size_t start = path.size();
    while (start > 0 && !IsSeparator(rules, path[start - 1])) --start;
    const std::string_view name = path.substr(start);
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}

std::string Join(const Rules& rules, const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (IsSeparator(rules, folder.back())) return folder + name;
    return folder + rules.separator + name;
}

}  // namespace

std::string WindowsPathRules::GetParentFolderName(const std::string& path) { return ParentFolder(kWindows, path); }
std::string WindowsPathRules::GetExtensionName(const std::string& path) { return Extension(kWindows, path); }
std::string WindowsPathRules::BuildPath(const std::string& folder, const std::string& name) {
    return Join(kWindows, folder, name);
}

std::string PosixPathRules::GetParentFolderName(const std::string& path) { return ParentFolder(kPosix, path); }
std::string PosixPathRules::GetExtensionName(const std::string& path) { return Extension(kPosix, path); }
std::string PosixPathRules::BuildPath(const std::string& folder, const std::string& name) {
    return Join(kPosix, folder, name);
}

}  // namespace vexa::paths
