// Opening a file with the program the desktop associates with it, as the viewer and help
// commands do. Windows calls ShellExecute; Linux starts xdg-open. The result follows the shell's
// convention: above 32 means the program was started.
#pragma once

#include <cstdint>
#include <string>

namespace vexa {

inline constexpr std::int32_t kShellFileNotFound = 2;
inline constexpr std::int32_t kShellNoAssociation = 31;

class Shell {
public:
    virtual ~Shell() = default;
    // Starts the associated program on `path` ("open") and returns without waiting for it.
    virtual std::int32_t Open(const std::string& path) = 0;
};

}  // namespace vexa
