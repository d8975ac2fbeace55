#include "adapters/posix/posix_error.h"

#include <cerrno>
#include <system_error>

namespace vexa::posix {

HostError PosixError(const std::string& context, int err) {
    // generic_category() gives strerror's text without strerror's shared static buffer.
    return HostError(err, context + ": " + std::generic_category().message(err), TransientErrno(err));
}

bool TransientErrno(int err) noexcept {
    switch (err) {
        case ENOSPC:
        case EDQUOT:
        case EIO:
        case EMFILE:
        case ENFILE:
        case ENOMEM:
        case ENOBUFS:
        case EAGAIN:
        case EBUSY:
        case EROFS:
        case ETIMEDOUT:
        case ESTALE:
            return true;
        default:
            return false;
    }
}

}  // namespace vexa::posix
