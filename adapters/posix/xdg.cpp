#include "adapters/posix/xdg.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "adapters/posix/posix_error.h"

namespace vexa::posix {
namespace {

std::filesystem::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    // Services and some sandboxes run without HOME; the password database still knows.
    long bufferSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(bufferSize > 0 ? static_cast<std::size_t>(bufferSize) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    int err = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (found != nullptr && found->pw_dir != nullptr && *found->pw_dir != '\0') {
        return found->pw_dir;
    }
    throw PosixError("Can't find the home folder", err != 0 ? err : ENOENT);
}

std::filesystem::path BaseFolder(const char* variable, const char* fallbackBelowHome) {
    // The rules say a relative value is invalid and must be ignored, not resolved against
    // the working folder.
    if (const char* value = std::getenv(variable); value != nullptr) {
        std::filesystem::path candidate(value);
        if (candidate.is_absolute()) {
            return candidate;
        }
    }
    return HomeFolder() / fallbackBelowHome;
}

}  // namespace

std::filesystem::path XdgConfigHome() { return BaseFolder("XDG_CONFIG_HOME", ".config"); }

std::filesystem::path XdgDataHome() { return BaseFolder("XDG_DATA_HOME", ".local/share"); }

}  // namespace vexa::posix
