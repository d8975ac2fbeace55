// Opening a file with the desktop's associated program on Linux: xdg-open, started without a
// shell and without waiting for it, so the viewer runs on after the command returns.
#pragma once

#include <string>

#include "handlers/shell.h"

namespace vexa::posix {

class XdgOpenShell final : public Shell {
public:
    // `opener` is the program to start, looked up on PATH when it has no "/".
    explicit XdgOpenShell(std::string opener = "xdg-open") : opener_(std::move(opener)) {}
    // 2 when `path` does not exist, 31 when the opener cannot be found or started, else 42.
    std::int32_t Open(const std::string& path) override;
    // The same for a web address, which is no file: 31 when the opener cannot be started, else 42.
    std::int32_t OpenAddress(const std::string& address);

private:
    std::string opener_;
};

}  // namespace vexa::posix
