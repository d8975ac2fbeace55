#include "linux/linux_shell.h"

#include <filesystem>

#include "linux/environment.h"
#include "linux/viewer_launch.h"
#include "viewer/viewer_record.h"

namespace vexa::linuxhost {

std::int32_t LinuxShell::Open(const std::string& path) {
    if (std::filesystem::path(path).filename() == kArchiveFileName) {
        // The archive keeps its Windows name but is an SQLite file: Vexa's own viewer shows it,
        // never the program the desktop associates with ".mdb".
        const auto address = RunningViewer(path);
        if (!address) return kShellNoAssociation;
        return desktop_.OpenSecretAddress(*address, viewer::ViewerRecordFile(path).parent_path());
    }
    return desktop_.Open(path);
}

}  // namespace vexa::linuxhost
