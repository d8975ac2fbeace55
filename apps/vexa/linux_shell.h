// The shell of the vexa command: xdg-open for everything but the archive. The archive keeps its
// Windows name, Corvane.mdb, yet is an SQLite file; the program a desktop associates with ".mdb"
// expects Access and would fail on it or, worse, offer to "repair" it. Until a viewer of our own
// exists the archive is refused, as a file without an associated program is, and the command
// says where it is and what reads it.
#pragma once

#include <optional>
#include <string>

#include "adapters/posix/xdg_open_shell.h"
#include "handlers/shell.h"

namespace vexa::cli {

class LinuxShell final : public Shell {
public:
    std::int32_t Open(const std::string& path) override;
    // The archive that was asked for and refused, if any.
    const std::optional<std::string>& RefusedArchive() const noexcept { return refusedArchive_; }

private:
    posix::XdgOpenShell desktop_;
    std::optional<std::string> refusedArchive_;
};

}  // namespace vexa::cli
