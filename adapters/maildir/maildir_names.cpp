#include "adapters/maildir/maildir_names.h"

#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <string_view>

namespace vexa::maildir {
namespace {

std::string EscapedHostName() {
    std::array<char, 256> buffer{};
    if (::gethostname(buffer.data(), buffer.size() - 1) != 0) return "localhost";
    std::string escaped;
    for (const char c : std::string_view(buffer.data())) {
        if (c == '/') {
            escaped += "\\057";
        } else if (c == ':') {
            escaped += "\\072";
        } else {
            escaped += c;
        }
    }
    return escaped.empty() ? "localhost" : escaped;
}

}  // namespace

MessageName SplitMessageName(const std::string& fileName) {
    const auto colon = fileName.find(':');
    if (colon == std::string::npos) return {fileName, false, ""};
    MessageName name{fileName.substr(0, colon), true, ""};
    // Only the ":2," info carries flags; an experimental ":1," info is dropped when rewritten.
    const std::string info = fileName.substr(colon + 1);
    if (info.starts_with("2,")) name.flags = info.substr(2);
    return name;
}

std::string JoinMessageName(const MessageName& name) {
    return name.hasInfo ? name.base + ":2," + name.flags : name.base;
}

std::string WithFlag(const std::string& flags, char flag, bool set) {
    std::string result;
    for (const char c : flags) {
        if (c != flag) result += c;
    }
    if (set) result += flag;
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

std::string NewUniqueBase() {
    static std::atomic<unsigned long> counter{0};
    timeval now{};
    ::gettimeofday(&now, nullptr);
    return std::to_string(now.tv_sec) + ".M" + std::to_string(now.tv_usec) + "P" + std::to_string(::getpid()) + "Q" +
           std::to_string(++counter) + "." + EscapedHostName();
}

bool IsValidFolderName(const std::string& name) {
    if (name.empty() || name.front() == '.') return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '/' || byte < 0x20 || byte == 0x7F;
    });
}

}  // namespace vexa::maildir
