#include "linux/imap_archiving.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>

#include "adapters/posix/private_folder.h"
#include "addin/connect.h"
#include "host/host_error.h"
#include "linux/idle_renewal.h"
#include "linux/imap_mirror.h"

namespace vexa::linuxhost {
namespace {

// Messages fetched into the mirror for one pass, at most (the mirror also bounds a pass's bytes),
// each pass a few round trips: as many as an archive group holds, so that an archive lost
// between two groups stops the scan between two passes, with nothing of the next pass raised.
constexpr std::size_t kMessagesPerPass = 200;

// The add-in's own test of an Inbox arrival, on a message made of its header fields alone: the
// sender's address decides whether it is the service's traffic (From; the other mail fields make
// a header block the message parser takes for a mail). A header that cannot be judged so is
// fetched whole and judged as any other arrival.
Sieve ServiceTraffic(Runtime& runtime) {
    return {{"From", "To", "Subject", "Date"}, [&runtime](const std::string& fields) {
                try {
                    return runtime.Addin().TestJ2Message(runtime.Session().ParseMessage(fields), true, false) !=
                           MessageKind::mkNone;
                } catch (const HostError&) {
                    return true;
                }
            }};
}

std::filesystem::path StateFile(Runtime& runtime, const ImapAccount& account) {
    return KeptUnderAccountKey(std::filesystem::path(runtime.Addin().AppPath()) / "imap", account, ".state");
}

// Fetches, archives and reconciles passes until the Inbox has no new arrival, or archiving
// stopped: the messages left due stay above the highest UID handled, for the next try.
void ArchiveArrivals(ArchivingLoop& loop, Runtime& runtime, ImapMirror& mirror, bool includeRead) {
    // The mirror holds only what was fetched: its copies carry no read state, so each is due.
    while (!loop.Stopped() && mirror.Fetch(kMessagesPerPass, includeRead) > 0) {
        loop.Pass(false);
        // A group whose commit may or may not have landed: the mirror stays as a kill at this
        // moment would leave it. The next start reads the archive back first, with the messages'
        // copies still in the mirror, and finishes on the server what was committed; the highest
        // UID handled stays below the rest, which are fetched and archived again.
        if (loop.OutcomeUnknown()) return;
        std::set<std::string> stillDue;
        for (const auto& file : runtime.Session().DueArrivals(false)) stillDue.insert(file.filename().string());
        for (const std::string& failure : mirror.Reconcile(stillDue, loop.TakeArchived()))
            runtime.Messages().Show(failure, kAppTitle);
    }
}

// True when the signal that came asks the watch to stop.
bool StopAsked(WatchSignals& signals, Runtime& runtime, int timeoutMilliseconds) {
    pollfd ready{signals.Fd(), POLLIN, 0};
    return ::poll(&ready, 1, timeoutMilliseconds) > 0 && signals.Take(runtime);
}

}  // namespace

std::filesystem::path PrepareMirror(const ImapAccount& account) {
    const std::filesystem::path mirror = MirrorFolder(account);
    for (const char* place : {"cur", "new", "tmp"}) posix::MakePrivateFolders(mirror / place);
    std::filesystem::permissions(mirror, std::filesystem::perms::owner_all);
    return mirror;
}

std::unique_ptr<WatchedImapServer> OpenImapAtStart(const ImapAccount& account, bool& temporary) {
    try {
        return OpenImapServer(account);
    } catch (const ImapOpenFailure& failure) {
        std::fprintf(stderr, "Can't init : %s\n", failure.what());
        temporary = failure.Temporary();
        return nullptr;
    }
}

ScanResult ScanImap(Runtime& runtime, ImapServer& server, const ImapAccount& account, bool includeRead) {
    ArchivingLoop loop(runtime, MailboxKind::Imap);
    ImapMirror mirror(server, MirrorFolder(account), StateFile(runtime, account), ServiceTraffic(runtime));
    bool dropped = false;
    try {
        // Before the mirror's start empties its Inbox: a group whose moves a crash cut short is
        // finished from its journal, so its committed messages reach their folders (and the
        // server's) instead of being fetched and archived again.
        if (loop.Replay()) {
            mirror.Start();
            ArchiveArrivals(loop, runtime, mirror, includeRead);
        }
    } catch (const HostError&) {
        loop.Failed();
        dropped = true;
    }
    // What the sieve passed over was left alone as the add-in leaves ordinary mail.
    ScanTally tally = loop.Tally();
    tally.leftAlone += static_cast<int>(mirror.PassedOver());
    return {tally, dropped || loop.Stopped()};
}

WatchEnd WatchImap(Runtime& runtime, const ImapAccount& account, std::unique_ptr<WatchedImapServer> server,
                   WatchSignals& signals, const ArchivingLoop::Committed& committed) {
    ArchivingLoop loop(runtime, MailboxKind::Imap, committed);
    const std::filesystem::path folder = MirrorFolder(account);
    // Each wait is one IDLE whose end must be answered at once: a dead connection shows then.
    const int renewSeconds = IdleRenewSeconds();
    bool stop = false;
    while (!stop) {
        try {
            if (!server) server = OpenImapServer(account);
            ImapMirror mirror(*server, folder, StateFile(runtime, account), ServiceTraffic(runtime));
            if (!loop.Replay()) throw HostError(0, "The archive cannot be reached; trying again later.", true);
            mirror.Start();
            loop.Answered();
            while (!stop) {
                ArchiveArrivals(loop, runtime, mirror, false);
                if (loop.OutcomeUnknown()) return WatchEnd::OutcomeUnknown;
                // The archive cannot take more now: the pause below, then a new start.
                if (loop.ArchiveLost()) break;
                server->WaitForNews(renewSeconds, signals.Fd());
                stop = StopAsked(signals, runtime, 0);
            }
        } catch (const ImapOpenFailure&) {
            loop.Failed();
            server.reset();
        } catch (const HostError&) {
            // Dropped: reconnect with a growing pause; what came meanwhile is found at the start.
            loop.Failed();
            server.reset();
        }
        if (stop || loop.OutcomeUnknown()) break;
        loop.StopForNow();
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*loop.RetryAt() - ArchivingLoop::Clock::now());
        stop = StopAsked(signals, runtime, static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
        loop.Resume();
    }
    return loop.OutcomeUnknown() ? WatchEnd::OutcomeUnknown : WatchEnd::Stopped;
}

}  // namespace vexa::linuxhost
