#include "linux/imap_mirror.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sstream>

#include "adapters/maildir/maildir_names.h"
#include "adapters/posix/atomic_file.h"
#include "host/host_error.h"

namespace vexa::linuxhost {
namespace fs = std::filesystem;
namespace {

constexpr const char* kSuffix = ".imap";
constexpr const char* kTrashFolder = ".Trash";

// A Maildir folder's message files, in new/ and cur/.
std::vector<fs::path> MessagesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const char* place : {"new", "cur"}) {
        std::error_code ec;
        for (fs::directory_iterator it(folder / place, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->is_regular_file(ec) && !it->path().filename().string().starts_with('.')) files.push_back(it->path());
        }
    }
    return files;
}

}  // namespace

ImapMirror::ImapMirror(ImapServer& server, fs::path mirror, fs::path stateFile)
    : server_(server), mirror_(std::move(mirror)), stateFile_(std::move(stateFile)) {}

ImapMirror::State ImapMirror::ReadState() const {
    State state;
    if (const auto bytes = posix::ReadFileIfPresent(stateFile_)) {
        std::istringstream in(*bytes);
        in >> state.uidValidity >> state.highest;
        if (!in) state = {};
    }
    return state;
}

void ImapMirror::WriteState() const {
    posix::WriteFileAtomically(stateFile_, std::to_string(state_.uidValidity) + " " + std::to_string(state_.highest) + "\n",
                               posix::FileAccess::Private);
}

fs::path ImapMirror::MirrorFileName(std::uint32_t uid) const {
    // Zero-padded, so that the Inbox's order by name is the order of the UIDs.
    char name[64];
    std::snprintf(name, sizeof name, "%010u.%u%s", uid, state_.uidValidity, kSuffix);
    return name;
}

std::optional<std::uint32_t> ImapMirror::UidOf(const std::string& fileName) const {
    const std::string base = maildir::SplitMessageName(fileName).base;
    unsigned uid = 0, validity = 0;
    char tail[8] = {};
    if (std::sscanf(base.c_str(), "%10u.%u%7s", &uid, &validity, tail) != 3 || validity != state_.uidValidity ||
        std::string(tail) != kSuffix) {
        return std::nullopt;
    }
    return uid;
}

void ImapMirror::Start() {
    for (const char* place : {"new", "cur", "tmp"}) fs::create_directories(mirror_ / place);
    const ImapServer::Inbox inbox = server_.SelectInbox();
    state_ = ReadState();
    if (state_.uidValidity != inbox.uidValidity) {
        // The server renumbered its Inbox: the old UIDs mean nothing, and every unseen message
        // is an arrival again (the ones archived before have left the Inbox).
        state_ = {inbox.uidValidity, 0};
        WriteState();
    }
    // What a crash left: the copies in local folders were committed, so their moves are done on
    // the server now. A message still in the local Inbox may or may not have been handled: it
    // stays unseen on the server above the highest UID handled, and is fetched and raised again
    // (a store that had failed is tried again; one left alone is left alone again).
    for (const fs::path& file : MessagesIn(mirror_)) fs::remove(file);
    fetched_.clear();
    Reconcile(false, {});
}

std::size_t ImapMirror::Fetch(std::size_t most, bool includeRead) {
    fetched_.clear();
    for (const std::uint32_t uid : server_.UidsAbove(state_.highest, includeRead)) {
        if (fetched_.size() >= most) break;
        const fs::path name = MirrorFileName(uid);
        const fs::path partial = mirror_ / "tmp" / name;
        const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) throw HostError(errno, "Can't write " + partial.string());
        try {
            server_.FetchToFile(uid, fd);
        } catch (...) {
            ::close(fd);
            ::unlink(partial.c_str());
            throw;
        }
        if (::close(fd) != 0) throw HostError(errno, "Can't write " + partial.string());
        fs::rename(partial, mirror_ / "new" / name);
        fetched_.push_back(uid);
    }
    return fetched_.size();
}

std::vector<std::string> ImapMirror::Reconcile(const std::set<std::string>& stillDue) { return Reconcile(true, stillDue); }

std::vector<std::string> ImapMirror::Reconcile(bool advance, const std::set<std::string>& stillDue) {
    std::vector<std::string> failures;
    const auto act = [&](const std::string& what, auto&& action) {
        try {
            action();
            return true;
        } catch (...) {
            failures.push_back(what + ": " + CurrentErrorDescription());
            return false;
        }
    };
    // Local Inbox: marked read there (a clean-up that failed) is marked seen on the server. A
    // message still due goes too: it stays unseen on the server, above the highest UID handled.
    std::optional<std::uint32_t> firstDue;
    for (const fs::path& file : MessagesIn(mirror_)) {
        const auto uid = UidOf(file.filename().string());
        if (uid && stillDue.contains(file.filename().string())) {
            firstDue = std::min(firstDue.value_or(*uid), *uid);
            fs::remove(file);
            continue;
        }
        if (uid && maildir::SplitMessageName(file.filename().string()).flags.find('S') != std::string::npos) {
            act("Can't mark message " + std::to_string(*uid) + " read", [&] { server_.MarkSeen(*uid); });
        }
        fs::remove(file);
    }
    for (const auto& entry : fs::directory_iterator(mirror_)) {
        const std::string folder = entry.path().filename().string();
        if (!entry.is_directory() || !folder.starts_with('.')) continue;
        std::vector<std::uint32_t> uids;
        const std::vector<fs::path> files = MessagesIn(entry.path());
        for (const fs::path& file : files) {
            if (const auto uid = UidOf(file.filename().string())) uids.push_back(*uid);
        }
        std::sort(uids.begin(), uids.end());
        bool moved = true;
        if (!uids.empty()) {
            // The local copies go only once the server has moved the messages: a crash, or a
            // server that refuses, leaves them for the next reconcile or start.
            if (folder == kTrashFolder) {
                moved = act("Can't delete " + std::to_string(uids.size()) + " messages", [&] { server_.MoveToTrash(uids); });
            } else {
                moved = act("Can't move " + std::to_string(uids.size()) + " messages to " + folder.substr(1),
                            [&] { server_.MoveToChild(uids, folder.substr(1)); });
            }
        }
        if (!moved) continue;
        for (const fs::path& file : files) fs::remove(file);
    }
    if (advance && !fetched_.empty()) {
        const std::uint32_t handled = firstDue ? *firstDue - 1 : fetched_.back();
        state_.highest = std::max(state_.highest, handled);
        WriteState();
    }
    fetched_.clear();
    return failures;
}

}  // namespace vexa::linuxhost
