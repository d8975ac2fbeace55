#include "linux/process_lock.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "adapters/posix/posix_error.h"

namespace vexa::linuxhost {
namespace {

constexpr const char* kLockFileName = "vexa.lock";

long ReadHolder(int fd) {
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    return std::strtol(text, nullptr, 10);
}

}  // namespace

std::string LockHeld::Message() const {
    const std::string who = holder > 0 ? "another vexa (process " + std::to_string(holder) + ")" : "another vexa";
    return folder + " is in use by " + who + "; try again when it has finished.";
}

ProcessLock::ProcessLock(const std::string& folder) {
    const std::string path = folder + "/" + kLockFileName;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) throw posix::PosixError("Can't open the lock file " + path, errno);
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        const long holder = err == EWOULDBLOCK ? ReadHolder(fd_) : 0;
        ::close(fd_);
        fd_ = -1;
        if (err == EWOULDBLOCK) throw LockHeld{folder, holder};
        throw posix::PosixError("Can't lock " + path, err);
    }
    // The id is only for the message of the next one who finds the folder taken.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd_, pid.data(), pid.size(), 0);
    }
}

ProcessLock::~ProcessLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace vexa::linuxhost
