#include "linux/watch_signals.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "host/host_error.h"

namespace vexa::linuxhost {

WatchSignals::WatchSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGHUP, SIGTERM, SIGINT}) sigaddset(&signals, signal);
    if (::sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) throw HostError(errno, "Can't take the signals.");
    fd_ = ::signalfd(-1, &signals, SFD_CLOEXEC);
    if (fd_ < 0) throw HostError(errno, "Can't take the signals.");
}

WatchSignals::~WatchSignals() {
    if (fd_ >= 0) ::close(fd_);
}

bool WatchSignals::Take(Runtime& runtime) {
    signalfd_siginfo info{};
    if (::read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return false;
    if (info.ssi_signo != SIGHUP) return true;
    try {
        runtime.Addin().Options().LoadOptions();
    } catch (...) {
        runtime.Messages().Show("Options not reloaded: " + CurrentErrorDescription(), kAppTitle);
    }
    return false;
}

}  // namespace vexa::linuxhost
