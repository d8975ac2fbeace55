// The watch raises the arrivals still due at its start (unread messages in new/ or cur/ that no
// scan or watch has raised: Dovecot moves new mail to cur/ as soon as any client opens the Inbox),
// then every message that appears in new/ or cur/; the session decides which are due, so a mail
// reader renaming a message (marking it read) is no arrival. When the kernel drops events (its
// queue ran over), the start's pass runs again. A Maildir that goes away (deleted, moved, its
// file system unmounted) leaves nothing to watch: the watch ends once what it was doing is
// committed.

#include "linux/maildir_archiving.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "adapters/maildir/maildir_files.h"
#include "host/host_error.h"

namespace vexa::linuxhost {
namespace {

using Clock = ArchivingLoop::Clock;

// Dovecot records a folder's state to the second: a delivery it indexes within a second of a move
// can hide that move from clients idling on the Inbox until the folder changes again.
constexpr auto kAnnounceAgainAfter = std::chrono::milliseconds(1500);

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {
        if (fd_ < 0) throw HostError(errno, std::string("Can't watch the mailbox: ") + std::strerror(errno));
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { ::close(fd_); }
    int Get() const { return fd_; }

private:
    int fd_;
};

bool IsMessageName(const std::string& name) { return !name.empty() && name[0] != '.'; }

// What the kernel reports when a watched folder stops being the one at its path. IN_IGNORED comes
// after each of these, and alone when the watch is dropped for any other reason: either way no
// more arrivals are reported for that folder.
constexpr std::uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

// The poll's time limit: until the earliest of `times`, or none.
int TimeoutUntil(std::initializer_list<std::optional<Clock::time_point>> times) {
    int timeout = -1;
    for (const auto& at : times) {
        if (!at) continue;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*at - Clock::now());
        const int wait = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        timeout = timeout < 0 ? wait : std::min(timeout, wait);
    }
    return timeout;
}

}  // namespace

ScanResult ScanMaildir(Runtime& runtime, bool includeRead) {
    ArchivingLoop loop(runtime, MailboxKind::Maildir);
    loop.Pass(includeRead);
    return {loop.Tally(), loop.Stopped()};
}

WatchEnd WatchMaildir(Runtime& runtime, const std::filesystem::path& inbox, WatchSignals& signals,
                      const ArchivingLoop::Committed& committed, const std::function<void()>& started) {
    ArchivingLoop loop(runtime, MailboxKind::Maildir, committed);
    // When the last arrival was handled; the Inbox's removals are announced again a moment later.
    std::optional<Clock::time_point> announceAt;
    const auto arrive = [&](const std::filesystem::path& file) {
        if (loop.ArchiveLost()) return;
        announceAt = Clock::now() + kAnnounceAgainAfter;
        loop.Arrive(file);
    };
    // What came while the watch could not see it is found the way the start finds it, and the
    // record keeps the messages handled already from arriving again.
    const auto arriveDue = [&] {
        try {
            if (loop.ArriveDue()) announceAt = Clock::now() + kAnnounceAgainAfter;
        } catch (...) {
            loop.Failed();
        }
    };

    // Watch first, then list: a message delivered in between is seen by one or the other, and
    // the session raises it once. The Maildir itself is watched for its going only: new/ and cur/
    // keep reporting into a Maildir moved elsewhere, which is no longer the one at this path.
    Descriptor notify(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    std::map<int, std::filesystem::path> folders;
    for (const char* sub : {"", "new", "cur"}) {
        const std::filesystem::path folder = *sub ? inbox / sub : inbox;
        const std::uint32_t mask = IN_DELETE_SELF | IN_MOVE_SELF | (*sub ? IN_MOVED_TO | IN_CREATE : 0);
        const int watch = ::inotify_add_watch(notify.Get(), folder.c_str(), mask);
        if (watch < 0 && (errno == ENOENT || errno == ENOTDIR)) return WatchEnd::MaildirGone;
        if (watch < 0) throw HostError(errno, "Can't watch " + folder.string());
        folders[watch] = folder;
    }
    if (loop.ArriveDue()) announceAt = Clock::now() + kAnnounceAgainAfter;
    started();

    bool gone = false;
    alignas(inotify_event) char buffer[64 * 1024];
    pollfd fds[] = {{notify.Get(), POLLIN, 0}, {signals.Fd(), POLLIN, 0}};
    // A commit whose outcome is unknown ends the watch: the next start reads it back from the
    // archive before anything is archived again.
    while (!loop.OutcomeUnknown()) {
        const int ready = ::poll(fds, 2, TimeoutUntil({announceAt, loop.RetryAt()}));
        if (ready < 0) {
            if (errno == EINTR) continue;
            throw HostError(errno, "Can't watch the mailbox.");
        }
        if (announceAt && Clock::now() >= *announceAt) {
            announceAt.reset();
            maildir::AnnounceRemovals(inbox);
        }
        if (loop.RetryDue()) {
            arriveDue();
            if (!loop.ArchiveLost()) loop.Answered();
            loop.Commit();
        }
        if ((fds[1].revents & POLLIN) && signals.Take(runtime)) break;
        if (fds[0].revents & POLLIN) {
            bool overflowed = false;
            for (;;) {
                const ssize_t length = ::read(notify.Get(), buffer, sizeof buffer);
                if (length <= 0) break;
                for (char* at = buffer; at < buffer + length;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(at);
                    at += sizeof(inotify_event) + event->len;
                    if (event->mask & IN_Q_OVERFLOW) overflowed = true;
                    // What arrived after the Maildir went is in a Maildir that is no longer ours.
                    if (event->mask & kFolderGone) gone = true;
                    if (gone || event->len == 0 || (event->mask & IN_ISDIR)) continue;
                    const std::string name = event->name;
                    if (IsMessageName(name)) arrive(folders[event->wd] / name);
                }
            }
            // The kernel's queue ran over (a burst of deliveries, or a long store) and events
            // were dropped.
            if (overflowed && !gone) arriveDue();
            loop.Commit();
            if (gone) break;
        }
    }
    loop.Commit();
    if (gone) return WatchEnd::MaildirGone;
    if (loop.OutcomeUnknown()) return WatchEnd::OutcomeUnknown;
    if (announceAt) maildir::AnnounceRemovals(inbox);
    return WatchEnd::Stopped;
}

}  // namespace vexa::linuxhost
