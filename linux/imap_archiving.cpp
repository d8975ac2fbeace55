#include "apps/vexa/imap_commands.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <set>
#include <thread>

#include "linux/arrival_group.h"
#include "linux/imap_server.h"
#include "apps/vexa/command_runtime.h"
#include "linux/archiving_loop.h"
#include "linux/watch_signals.h"
#include "linux/imap_mirror.h"
#include "host/host_error.h"

namespace vexa::cli {

using linuxhost::ArchiveDue;
using linuxhost::ArrivalGroup;
using linuxhost::ArrivalLine;
using linuxhost::HandledArrival;
using linuxhost::ImapAccount;
using linuxhost::ImapOpenFailure;
using linuxhost::KeptUnderAccountKey;
using linuxhost::MirrorFolder;
using linuxhost::OpenImapServer;
using linuxhost::Runtime;
using linuxhost::ScanTally;
using linuxhost::WatchSignals;
using linuxhost::WatchedImapServer;
namespace {

using linuxhost::ImapMirror;

// Messages fetched into the mirror for one pass: memory and the mirror stay small on a large Inbox.
constexpr std::size_t kMessagesPerPass = 200;
// IDLE is renewed before the 30 minutes after which a server may drop an idle client.
constexpr int kIdleSeconds = 29 * 60;
constexpr auto kFirstRetry = std::chrono::seconds(1);
constexpr auto kLongestRetry = std::chrono::minutes(5);

std::filesystem::path PrepareMirror(const ImapAccount& account) {
    const std::filesystem::path mirror = MirrorFolder(account);
    for (const char* place : {"cur", "new", "tmp"}) std::filesystem::create_directories(mirror / place);
    std::filesystem::permissions(mirror, std::filesystem::perms::owner_all);
    return mirror;
}

std::filesystem::path StateFile(Runtime& runtime, const ImapAccount& account) {
    return KeptUnderAccountKey(std::filesystem::path(runtime.Addin().AppPath()) / "imap", account, ".state");
}

// Fetches, archives and reconciles passes until the Inbox has no new arrival, or the archive
// cannot take more for now (tally.archiveLost): the messages left due stay above the highest
// UID handled, for the next try.
void ArchiveArrivals(Runtime& runtime, ImapMirror& mirror, ScanTally& tally, bool includeRead = false,
                     const std::function<void(const HandledArrival&)>& committed = {}) {
    // The mirror holds only what was fetched: its copies carry no read state, so each is due.
    while (!tally.archiveLost && mirror.Fetch(kMessagesPerPass, includeRead) > 0) {
        ArchiveDue(runtime, false, tally, committed);
        std::set<std::string> stillDue;
        for (const auto& file : runtime.Session().DueArrivals(false)) stillDue.insert(file.filename().string());
        for (const std::string& failure : mirror.Reconcile(stillDue)) runtime.Messages().Show(failure, kAppTitle);
    }
}

// Before the mirror's start empties its Inbox: a group whose moves a crash cut short is finished
// from its journal, so its committed messages reach their folders (and the server's) instead of
// being fetched and archived again. False when the archive could not say.
bool FinishLastGroup(Runtime& runtime) {
    ArrivalGroup group(runtime);
    return group.Replay();
}

// The account's server at start-up; null (after the "Can't init : " line) when it cannot be
// opened, `temporary` then saying whether it may open later.
std::unique_ptr<WatchedImapServer> OpenAtStart(const ImapAccount& account, bool& temporary) {
    try {
        return OpenImapServer(account);
    } catch (const ImapOpenFailure& failure) {
        std::fprintf(stderr, "Can't init : %s\n", failure.what());
        temporary = failure.Temporary();
        return nullptr;
    }
}

}  // namespace

int RunImapScan(const ImapAccount& account, bool includeRead) {
    const std::filesystem::path folder = PrepareMirror(account);
    bool temporary = false;
    const auto server = OpenAtStart(account, temporary);
    if (!server) return temporary ? kExitTempFail : kExitConfig;
    CommandRuntime runtime({folder.string(), std::nullopt});
    if (!runtime.Connect()) return kExitConfig;
    if (!runtime.LockForArchiving()) return kExitTempFail;
    ImapMirror mirror(*server, folder, StateFile(runtime, account));
    ScanTally tally;
    int status = kExitOk;
    try {
        if (!FinishLastGroup(runtime)) {
            tally.archiveLost = true;
        } else {
            mirror.Start();
            ArchiveArrivals(runtime, mirror, tally, includeRead);
        }
        // The archive cannot take more now: the rest stays unseen on the server for the next try.
        if (tally.archiveLost) status = kExitTempFail;
    } catch (const HostError& e) {
        // The connection dropped: what was archived is reconciled at the next start.
        runtime.Messages().Show(e.Description(), kAppTitle);
        status = kExitTempFail;
    }
    runtime.Shutdown();
    std::printf("%s\n", tally.Summary().c_str());
    return status != kExitOk ? status : runtime.ExitStatus();
}

int RunImapWatch(const ImapAccount& account, bool quiet) {
    WatchSignals signals;
    const std::filesystem::path folder = PrepareMirror(account);
    bool temporary = false;
    std::unique_ptr<WatchedImapServer> server = OpenAtStart(account, temporary);
    if (!server && !temporary) return kExitConfig;
    CommandRuntime runtime({folder.string(), std::nullopt});
    if (!runtime.Connect()) return kExitConfig;
    if (!runtime.LockForArchiving()) return kExitTempFail;
    std::printf("Watching %s\n", account.url.c_str());
    std::fflush(stdout);

    auto retry = kFirstRetry;
    bool stop = false;
    const auto takeSignal = [&] {
        if (signals.Take(runtime)) stop = true;
    };
    while (!stop) {
        try {
            if (!server) server = OpenImapServer(account);
            ImapMirror mirror(*server, folder, StateFile(runtime, account));
            if (!FinishLastGroup(runtime)) throw HostError(0, "The archive cannot be reached; trying again later.", true);
            mirror.Start();
            retry = kFirstRetry;
            while (!stop) {
                ScanTally tally;
                ArchiveArrivals(runtime, mirror, tally, false, [&](const HandledArrival& handled) {
                    const std::string line = ArrivalLine(handled);
                    if (quiet || line.empty()) return;
                    std::printf("%s\n", line.c_str());
                    std::fflush(stdout);
                });
                if (tally.outcomeUnknown) {
                    // The next start reads the last commit's outcome back from the archive.
                    runtime.Shutdown();
                    return kExitTempFail;
                }
                // The archive cannot take more now: the pause below, then a new start.
                if (tally.archiveLost) break;
                server->WaitForNews(kIdleSeconds, signals.Fd());
                pollfd ready{signals.Fd(), POLLIN, 0};
                if (::poll(&ready, 1, 0) > 0) takeSignal();
            }
        } catch (const ImapOpenFailure& failure) {
            runtime.Messages().Show(failure.what(), kAppTitle);
            server.reset();
        } catch (const HostError& e) {
            // Dropped: reconnect with a growing pause; what came meanwhile is found at the start.
            runtime.Messages().Show(e.Description(), kAppTitle);
            server.reset();
        }
        if (stop) break;
        pollfd ready{signals.Fd(), POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(retry).count())) > 0) takeSignal();
        retry = std::min<std::chrono::seconds>(retry * 2, kLongestRetry);
    }
    const int shownBefore = runtime.Messages().Shown();
    runtime.Shutdown();
    return runtime.Messages().Shown() == shownBefore ? kExitOk : kExitReported;
}

}  // namespace vexa::cli
