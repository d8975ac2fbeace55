#include "adapters/posix/xdg_open_shell.h"

#include <cerrno>
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

}  // namespace vexa::posix
