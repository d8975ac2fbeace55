#include "apps/vexa/linux_shell.h"

#include <filesystem>

#include "apps/vexa/environment.h"

namespace vexa::cli {

std::int32_t LinuxShell::Open(const std::string& path) {
    if (std::filesystem::path(path).filename() == kArchiveFileName) {
        refusedArchive_ = path;
        return kShellNoAssociation;
    }
    return desktop_.Open(path);
}

}  // namespace vexa::cli
