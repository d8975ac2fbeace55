// The shell of the vexa command: xdg-open for everything but the archive. The archive keeps its
// Windows name, Corvane.mdb, yet is an SQLite file; the program a desktop associates with ".mdb"
// expects Access and would fail on it or, worse, offer to "repair" it. So the archive opens in
// Vexa's own viewer (`vexa view`), in the browser.
#pragma once

#include <string>

#include "adapters/posix/xdg_open_shell.h"
#include "handlers/shell.h"

namespace vexa::linuxhost {

class LinuxShell final : public Shell {
public:
    std::int32_t Open(const std::string& path) override;

private:
    posix::XdgOpenShell desktop_;
};

}  // namespace vexa::linuxhost
