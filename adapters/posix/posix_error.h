// Turns an errno value into the HostError that the rest of the add-in understands.
// Every Linux adapter calls it at the point where a system call has just failed.
#pragma once

#include <string>

#include "host/host_error.h"

namespace vexa::posix {

// `context` says what was being attempted ("Can't write /home/a/settings.ini"); the system's
// text for `err` follows it after a colon. The number is `err` itself so a log can tell
// EACCES from ENOSPC without parsing the text.
HostError PosixError(const std::string& context, int err);

// The errno values that say the machine, not the request, is at fault right now: no space, an
// I/O error, too many open files, memory, a busy or read-only file system (remounted after
// errors). The request may succeed later.
bool TransientErrno(int err) noexcept;

}  // namespace vexa::posix
