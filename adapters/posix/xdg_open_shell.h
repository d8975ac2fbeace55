// Opening a file with the desktop's associated program on Linux: xdg-open, started without a
// shell and without waiting for it, so the viewer runs on after the command returns.
#pragma once

#include <filesystem>
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
    // A web address that carries a secret (the viewer's token): the opener is given the name of
    // a file of `folder` (mode 0600, its name unpredictable) that sends the browser on to the
    // address, so that the secret never stands in a command line, which every local user can
    // read. Such files older than ten minutes are removed. 31 when the file cannot be written.
    std::int32_t OpenSecretAddress(const std::string& address, const std::filesystem::path& folder);

private:
    std::string opener_;
};

}  // namespace vexa::posix
