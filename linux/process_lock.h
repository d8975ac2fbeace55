// One archiving process per mailbox and per installation: `vexa scan` and `vexa watch` hold an
// exclusive lock (flock) on a lock file in each, for as long as they run, so two of them never
// take the same message at once. The lock goes with the process, however it ends.
#pragma once

#include <string>

namespace vexa::linuxhost {

class ProcessLock {
public:
    // Takes the lock on `folder`/vexa.lock without waiting and writes this process's id into it.
    // When another process holds it, throws LockHeld; any other failure throws HostError.
    explicit ProcessLock(const std::string& folder);
    ~ProcessLock();
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;

private:
    int fd_ = -1;
};

struct LockHeld {
    std::string folder;
    long holder = 0;  // the process id the lock file names; 0 when it names none
    std::string Message() const;
};

}  // namespace vexa::linuxhost
