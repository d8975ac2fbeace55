#include "linux/environment.h"

#include <cstdlib>

#include "adapters/posix/xdg.h"

namespace vexa::linuxhost {

std::filesystem::path MaildirPath(const std::optional<std::string>& option) {
    if (option) return *option;
    if (const char* maildir = std::getenv("MAILDIR"); maildir && *maildir) return maildir;
    // XdgDataHome's parent of the parent is not HOME in general; HOME is what ~ means here.
    if (const char* home = std::getenv("HOME"); home && *home) return std::filesystem::path(home) / "Maildir";
    return posix::XdgConfigHome().parent_path() / "Maildir";
}

std::filesystem::path DefaultHome() { return posix::XdgDataHome() / "vexa"; }

}  // namespace vexa::linuxhost
