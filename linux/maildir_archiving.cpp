// vexa watch: archives faxes and confirmations as they arrive. At start it raises the arrivals
// still due (unread messages in new/ or cur/ that no scan or watch has raised: Dovecot moves new
// mail to cur/ as soon as any client opens the Inbox), then every message that appears in new/
// or cur/; the session decides which are due, so a mail reader renaming a message (marking it
// read) is no arrival. When the kernel drops events (its queue ran over), the start's pass runs
// again. One line per archived message goes to standard output (-q: none).
// A Maildir that goes away (deleted, moved, its file system unmounted) leaves nothing to watch:
// watch says so and exits 75 once what it was doing is committed, and the service manager starts
// it again; a start without the Maildir exits 75 as well, so the restarts go on until it is back.
// SIGHUP reloads the options; SIGTERM and SIGINT shut down as the explorer's close and the
// disconnection do, and a clean shutdown exits 0 whatever was reported while it ran: a service
// manager must not take a requested stop for a failure.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "adapters/maildir/maildir_files.h"
#include "linux/arrival_group.h"
#include "apps/vexa/cli.h"
#include "apps/vexa/imap_options.h"
#include "apps/vexa/imap_commands.h"
#include "linux/environment.h"
#include "linux/inbox_arrivals.h"
#include "apps/vexa/option_parser.h"
#include "apps/vexa/command_runtime.h"
#include "linux/watch_signals.h"
#include "host/host_error.h"

namespace vexa::cli {

using linuxhost::ArrivalGroup;
using linuxhost::ArrivalLine;
using linuxhost::HandledArrival;
using linuxhost::MaildirPath;
using linuxhost::WatchSignals;
namespace {

// Dovecot records a folder's state to the second: a delivery it indexes within a second of a move
// can hide that move from clients idling on the Inbox until the folder changes again.
constexpr auto kAnnounceAgainAfter = std::chrono::milliseconds(1500);
// Waiting for an archive server that cannot be reached: from 5 s, doubling, to 5 minutes.
constexpr std::chrono::steady_clock::duration kFirstRetry = std::chrono::seconds(5);
constexpr std::chrono::steady_clock::duration kLongestRetry = std::chrono::minutes(5);

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

// The status that has the service manager start watch again after its pause.
int MaildirGone(const std::filesystem::path& inbox) {
    std::fprintf(stderr,
                 "vexa watch: the Maildir %s is gone (deleted, moved or unmounted); exiting so that the service starts "
                 "watch again once it is back\n",
                 inbox.c_str());
    return kExitTempFail;
}

}  // namespace

int RunWatch(const Args& args) {
    std::vector<OptionRule> rules = ImapOptionRules();
    rules.insert(rules.end(), {{"maildir", true}, {"quiet", false, 'q'}});
    const ParsedOptions options = ParseOptions(args, rules);
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    const bool quiet = options.Has("quiet");
    if (const auto account = ImapAccountOf(options)) return RunImapWatch(*account, quiet);

    // The signals are taken as events, so a shutdown never interrupts the archive mid-store.
    WatchSignals signals;

    const std::filesystem::path inbox = MaildirPath(options.Value("maildir"));
    // A missing Maildir is waited for rather than fixed: the first delivery creates it, a file
    // system mounted late or a mailbox being moved brings it back.
    if (!maildir::IsMaildir(inbox)) {
        std::fprintf(stderr, "vexa watch: the Maildir %s is missing; exiting so that the service tries again later\n",
                     inbox.c_str());
        return kExitTempFail;
    }
    CommandRuntime runtime({options.Value("maildir"), std::nullopt});
    if (!runtime.Connect()) return kExitConfig;
    if (!runtime.LockForArchiving()) return kExitTempFail;

    // When the last arrival was handled; the Inbox's removals are announced again a moment later.
    std::optional<std::chrono::steady_clock::time_point> announceAt;
    ArrivalGroup group(runtime);
    // The lines of the archived messages are printed once their group is committed.
    const auto commit = [&] {
        for (const HandledArrival& handled : group.Commit()) {
            const std::string line = ArrivalLine(handled);
            if (quiet || line.empty()) continue;
            std::printf("%s\n", line.c_str());
        }
        std::fflush(stdout);
    };
    // While the archive's server cannot be reached, nothing is archived: the messages stay due,
    // and the start's pass runs again after a pause that grows up to kLongestRetry.
    std::optional<std::chrono::steady_clock::time_point> retryAt;
    auto retryPause = kFirstRetry;
    auto arrive = [&](const std::filesystem::path& file) {
        if (retryAt) return;
        announceAt = std::chrono::steady_clock::now() + kAnnounceAgainAfter;
        group.Handle(file, false);
        if (group.ArchiveLost()) {
            retryAt = std::chrono::steady_clock::now() + retryPause;
            retryPause = std::min<std::chrono::steady_clock::duration>(retryPause * 2, kLongestRetry);
            commit();
            return;
        }
        if (group.Due()) commit();
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
        if (watch < 0 && (errno == ENOENT || errno == ENOTDIR)) return MaildirGone(inbox);
        if (watch < 0) throw HostError(errno, "Can't watch " + folder.string());
        folders[watch] = folder;
    }
    const auto arriveDue = [&] {
        const auto due = std::make_shared<const std::vector<std::filesystem::path>>(runtime.Session().DueArrivals(false));
        runtime.Session().ReadAheadOf(due, runtime.AttachFolder());
        for (const auto& file : *due) arrive(file);
        runtime.Session().EndReadAhead();
    };
    arriveDue();
    commit();
    std::printf("Watching %s\n", inbox.c_str());
    std::fflush(stdout);

    bool gone = false;
    alignas(inotify_event) char buffer[64 * 1024];
    pollfd fds[] = {{notify.Get(), POLLIN, 0}, {signals.Fd(), POLLIN, 0}};
    // A commit whose outcome is unknown ends the watch: the next start reads it back from the
    // archive before anything is archived again.
    while (!group.OutcomeUnknown()) {
        int timeout = -1;
        for (const auto& at : {announceAt, retryAt}) {
            if (!at) continue;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*at - std::chrono::steady_clock::now());
            const int wait = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
            timeout = timeout < 0 ? wait : std::min(timeout, wait);
        }
        const int ready = ::poll(fds, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            throw HostError(errno, "Can't watch the mailbox.");
        }
        if (announceAt && std::chrono::steady_clock::now() >= *announceAt) {
            announceAt.reset();
            maildir::AnnounceRemovals(inbox);
        }
        if (retryAt && std::chrono::steady_clock::now() >= *retryAt) {
            retryAt.reset();
            try {
                arriveDue();
            } catch (...) {
                runtime.Messages().Show(CurrentErrorDescription(), kAppTitle);
            }
            if (!retryAt) retryPause = kFirstRetry;  // the archive answered again
            commit();
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
            // The kernel's queue ran over (a burst of deliveries, or a long store) and events were
            // dropped: what came meanwhile is found the way the start finds it, and the record
            // keeps the messages handled already from arriving again.
            if (overflowed && !gone) {
                try {
                    arriveDue();
                } catch (...) {
                    runtime.Messages().Show(CurrentErrorDescription(), kAppTitle);
                }
            }
            commit();
            if (gone) break;
        }
    }
    commit();
    if (gone) {
        const int status = MaildirGone(inbox);
        runtime.Shutdown();
        return status;
    }
    if (group.OutcomeUnknown()) {
        runtime.Shutdown();
        return kExitTempFail;
    }
    if (announceAt) maildir::AnnounceRemovals(inbox);
    const int shownBefore = runtime.Messages().Shown();
    runtime.Shutdown();
    return runtime.Messages().Shown() == shownBefore ? kExitOk : kExitReported;
}

}  // namespace vexa::cli
