// The signals of a watcher, taken as events so that they never interrupt the archive mid-store:
// SIGHUP reloads the options, SIGTERM and SIGINT ask the watcher to stop.
#pragma once

#include "linux/runtime.h"

namespace vexa::linuxhost {

class WatchSignals {
public:
    // Blocks the three signals and opens a descriptor that becomes readable when one comes.
    // Throws HostError when it cannot.
    WatchSignals();
    ~WatchSignals();
    WatchSignals(const WatchSignals&) = delete;
    WatchSignals& operator=(const WatchSignals&) = delete;

    // Readable when a signal is pending.
    int Fd() const noexcept { return fd_; }
    // Takes the pending signal: SIGHUP reloads the runtime's options (a failure is shown); true
    // when a stop was asked.
    bool Take(Runtime& runtime);

private:
    int fd_ = -1;
};

}  // namespace vexa::linuxhost
