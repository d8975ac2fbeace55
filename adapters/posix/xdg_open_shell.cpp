#include "adapters/posix/xdg_open_shell.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vexa::posix {
namespace {

constexpr std::int32_t kStarted = 42;
constexpr const char* kLaunchPrefix = "open-";
constexpr const char* kLaunchSuffix = ".html";
// Long enough for a browser that is slow to start to read its launch file.
constexpr auto kLaunchFileLife = std::chrono::minutes(10);

std::string HtmlEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c;
        }
    }
    return out;
}

void RemoveOldLaunchFiles(const std::filesystem::path& folder) {
    std::error_code ec;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(kLaunchPrefix) || !name.ends_with(kLaunchSuffix)) continue;
        std::error_code timeError;
        const auto written = std::filesystem::last_write_time(it->path(), timeError);
        if (!timeError && now - written > kLaunchFileLife) std::filesystem::remove(it->path(), timeError);
    }
}

// The opener's full path: as given when it holds a "/", else the first executable on PATH.
std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : "";
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

}  // namespace

std::int32_t XdgOpenShell::Open(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return kShellFileNotFound;
    return OpenAddress(path);
}

std::int32_t XdgOpenShell::OpenAddress(const std::string& path) {
    const std::string program = FindProgram(opener_);
    if (program.empty()) return kShellNoAssociation;

    // The opener may live long (it may be the viewer itself): a short-lived intermediate child
    // starts it and exits, so it is never our zombie and we never wait on the viewer.
    const pid_t intermediate = ::fork();
    if (intermediate < 0) return kShellNoAssociation;
    if (intermediate == 0) {
        ::setsid();
        const int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            ::dup2(devnull, STDIN_FILENO);
            ::dup2(devnull, STDOUT_FILENO);
        }
        std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>(path.c_str()), nullptr};
        pid_t opener = 0;
        const int spawned = ::posix_spawn(&opener, program.c_str(), nullptr, nullptr, argv.data(), environ);
        ::_exit(spawned == 0 ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(intermediate, &status, 0) < 0) {
        if (errno != EINTR) return kShellNoAssociation;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kStarted : kShellNoAssociation;
}

std::int32_t XdgOpenShell::OpenSecretAddress(const std::string& address, const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return kShellNoAssociation;
    RemoveOldLaunchFiles(folder);
    std::string name = (folder / (std::string(kLaunchPrefix) + "XXXXXX" + kLaunchSuffix)).string();
    // mkstemps: a new file, 0600, under a name nobody could have prepared.
    const int fd = ::mkstemps(name.data(), static_cast<int>(std::string(kLaunchSuffix).size()));
    if (fd < 0) return kShellNoAssociation;
    const std::string target = HtmlEscaped(address);
    const std::string page = "<!DOCTYPE html>\n<meta charset=\"utf-8\">\n<meta http-equiv=\"refresh\" content=\"0;url=" +
                             target + "\">\n<title>Vexa</title>\n<a href=\"" + target + "\">Vexa</a>\n";
    const bool written = ::write(fd, page.data(), page.size()) == static_cast<ssize_t>(page.size());
    if (::close(fd) != 0 || !written) {
        ::unlink(name.c_str());
        return kShellNoAssociation;
    }
    return OpenAddress(name);
}

}  // namespace vexa::posix
