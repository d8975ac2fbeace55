#include "linux/scratch_maildir.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

#include <stdlib.h>

#include "host/host_error.h"

namespace vexa::linuxhost {

ScratchMaildir::ScratchMaildir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (tmp && *tmp ? std::string(tmp) : std::string("/tmp")) + "/vexa-inbox.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw HostError(errno, "Can't make a temporary folder in " + pattern);
    path_ = pattern;
    std::error_code ec;
    for (const char* sub : {"cur", "new", "tmp"}) {
        if (!std::filesystem::create_directory(path_ / sub, ec)) {
            std::filesystem::remove_all(path_, ec);
            throw HostError(ec.value(), "Can't make a temporary Maildir in " + pattern);
        }
    }
}

ScratchMaildir::~ScratchMaildir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace vexa::linuxhost
