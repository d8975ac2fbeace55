#include "adapters/posix/posix_error.h"

#include <system_error>

namespace vexa::posix {

HostError PosixError(const std::string& context, int err) {
    // generic_category() gives strerror's text without strerror's shared static buffer.
    return HostError(err, context + ": " + std::generic_category().message(err));
}

}  // namespace vexa::posix
