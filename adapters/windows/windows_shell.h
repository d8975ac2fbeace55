// Opening a file with its associated program on Windows (ShellExecuteW "open"), for the viewer
// and help commands. The add-in's platform wiring hands one to the toolbar handlers.
#pragma once

#include <cstdint>
#include <string>

#include "handlers/shell.h"

namespace vexa::windows {

class WindowsShell final : public Shell {
public:
    // ShellExecuteW's result: above 32 when the program was started, else its SE_ERR_ code
    // (kShellFileNotFound, kShellNoAssociation, ...). The calling thread should have COM
    // initialised, as Outlook's does, for associations that run through shell extensions.
    std::int32_t Open(const std::string& path) override;
};

}  // namespace vexa::windows
