#include "linux/imap_mirror.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>
#include <sstream>
#include <string_view>

#include "adapters/maildir/maildir_names.h"
#include "adapters/posix/atomic_file.h"
#include "adapters/posix/private_folder.h"
#include "host/host_error.h"

namespace vexa::linuxhost {
namespace fs = std::filesystem;
namespace {

constexpr const char* kSuffix = ".imap";
constexpr const char* kTrashFolder = ".Trash";
constexpr const char* kClaimPrefix = "$VexaClaim.";
// Claiming, fetching and archiving a pass takes seconds; a claim this old was left by a crash.
constexpr std::int64_t kStaleClaimSeconds = 30 * 60;
// The header fields of at most this many new messages are sifted per command: a few round trips
// over a large Inbox, and a small answer.
constexpr std::size_t kSiftWindow = 1000;
// Whole messages are fetched several per command, up to this many bytes as the server states
// their sizes; a larger one alone, in chunks straight into its file, never whole in memory.
constexpr std::uint64_t kBatchBytes = 4u << 20;
constexpr std::size_t kBatchMessages = 100;
// A pass takes no more messages once their stated sizes reach this: the mirror stays small.
constexpr std::uint64_t kPassBytes = 64u << 20;
// The fields sifted when no sieve names any: the size alone is wanted then.
const std::vector<std::string> kSizeOnly = {"Message-ID"};

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Eight hex digits, unlikely to be another installation's.
std::string NewClaimant() {
    std::random_device random;
    char id[16];
    std::snprintf(id, sizeof id, "%08x", static_cast<unsigned>(random()));
    return id;
}

bool Has(const std::vector<std::string>& flags, const std::string& wanted) {
    return std::find(flags.begin(), flags.end(), wanted) != flags.end();
}

void WriteAll(int fd, std::string_view bytes, const fs::path& file) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) throw HostError(errno, "Can't write " + file.string());
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::string BaseOf(const std::string& name) { return maildir::SplitMessageName(name).base; }

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

ImapMirror::ImapMirror(ImapServer& server, fs::path mirror, fs::path stateFile, Sieve sieve)
    : server_(server), sieve_(std::move(sieve)), mirror_(std::move(mirror)), stateFile_(std::move(stateFile)) {}

// "VALIDITY HIGHEST CLAIMANT", then a line "claim UID KEYWORD SINCE" per foreign claim watched.
ImapMirror::State ImapMirror::ReadState() const {
    State state;
    if (const auto bytes = posix::ReadFileIfPresent(stateFile_)) {
        std::istringstream in(*bytes);
        std::string first;
        std::getline(in, first);
        std::istringstream head(first);
        head >> state.uidValidity >> state.highest;
        if (!head) state = {};
        head >> state.claimant;
        for (std::string line; std::getline(in, line);) {
            std::istringstream claim(line);
            std::string word;
            std::uint32_t uid = 0;
            ForeignClaim foreign;
            if (claim >> word >> uid >> foreign.keyword >> foreign.since && word == "claim") state.foreign[uid] = foreign;
        }
    }
    if (state.claimant.empty()) state.claimant = NewClaimant();
    return state;
}

void ImapMirror::WriteState() const {
    std::string text = std::to_string(state_.uidValidity) + " " + std::to_string(state_.highest) + " " + state_.claimant + "\n";
    for (const auto& [uid, claim] : state_.foreign)
        text += "claim " + std::to_string(uid) + " " + claim.keyword + " " + std::to_string(claim.since) + "\n";
    posix::WriteFileAtomically(stateFile_, text, posix::FileAccess::Private);
}

fs::path ImapMirror::MirrorFileName(std::uint32_t uid) const {
    // Zero-padded, so that the Inbox's order by name is the order of the UIDs.
    char name[64];
    std::snprintf(name, sizeof name, "%010u.%u%s", uid, state_.uidValidity, kSuffix);
    return name;
}

namespace {

struct MirrorName {
    std::uint32_t uid = 0;
    std::uint32_t uidValidity = 0;
};

std::optional<MirrorName> ParseMirrorName(const std::string& fileName) {
    const std::string base = maildir::SplitMessageName(fileName).base;
    unsigned uid = 0, validity = 0;
    char tail[8] = {};
    if (std::sscanf(base.c_str(), "%10u.%u%7s", &uid, &validity, tail) != 3 || std::string(tail) != kSuffix) {
        return std::nullopt;
    }
    return MirrorName{uid, validity};
}

}  // namespace

std::optional<std::uint32_t> MirrorFileUid(const std::string& fileName) {
    const auto name = ParseMirrorName(fileName);
    return name ? std::optional<std::uint32_t>(name->uid) : std::nullopt;
}

std::optional<std::uint32_t> ImapMirror::UidOf(const std::string& fileName) const {
    const auto name = ParseMirrorName(fileName);
    if (!name || name->uidValidity != state_.uidValidity) return std::nullopt;
    return name->uid;
}

void ImapMirror::Start() {
    for (const char* place : {"new", "cur", "tmp"}) posix::MakePrivateFolders(mirror_ / place);
    const ImapServer::Inbox inbox = server_.SelectInbox();
    keywords_ = inbox.keywords;
    state_ = ReadState();
    if (state_.uidValidity != inbox.uidValidity) {
        // The server renumbered its Inbox: the old UIDs mean nothing, and every unseen message
        // is an arrival again but for those with the keyword (the ones moved before have left).
        state_ = {inbox.uidValidity, 0, state_.claimant, {}};
    }
    WriteState();
    // What a crash left: the copies in local folders, and those marked read in the local Inbox,
    // were committed, so what the add-in did to them is done on the server now. Any other message
    // in the local Inbox may or may not have been handled: it stays unseen on the server above the
    // highest UID handled, and is fetched again (the mirror's record of handled arrivals knows
    // one that was archived; a store that had failed is tried again).
    for (const fs::path& file : MessagesIn(mirror_)) {
        if (maildir::SplitMessageName(file.filename().string()).flags.find('S') == std::string::npos) fs::remove(file);
    }
    fetched_.clear();
    running_ = false;
    unresolved_ = 0;
    Reconcile(false, {}, {});
}

std::vector<std::uint32_t> ImapMirror::Claim(const std::vector<std::uint32_t>& uids) {
    if (!keywords_ || uids.empty()) return uids;
    const std::string mine = ClaimKeyword();
    server_.AddFlags(uids, {mine});
    const auto flags = server_.FlagsOf(uids);
    std::vector<std::uint32_t> taken, letGo;
    const std::int64_t now = Now();
    bool watched = false;
    for (const std::uint32_t uid : uids) {
        const auto found = flags.find(uid);
        if (found == flags.end()) continue;  // gone meanwhile
        if (Has(found->second, kArchivedKeyword)) {
            letGo.push_back(uid);
            continue;
        }
        std::vector<std::string> others;
        for (const std::string& flag : found->second) {
            if (flag.starts_with(kClaimPrefix) && flag != mine) others.push_back(flag);
        }
        const auto seen = state_.foreign.find(uid);
        const bool stale = others.size() == 1 && seen != state_.foreign.end() && seen->second.keyword == others[0] &&
                           now - seen->second.since >= kStaleClaimSeconds;
        if (others.empty() || stale) {
            if (stale) server_.RemoveFlags({uid}, others);
            if (seen != state_.foreign.end()) {
                state_.foreign.erase(seen);
                watched = true;
            }
            taken.push_back(uid);
            continue;
        }
        letGo.push_back(uid);
        unresolved_ = unresolved_ ? std::min(unresolved_, uid) : uid;
        if (seen == state_.foreign.end() || seen->second.keyword != others[0]) {
            state_.foreign[uid] = {others[0], now};
            watched = true;
        }
    }
    server_.RemoveFlags(letGo, {mine});
    if (watched) WriteState();
    return taken;
}

std::size_t ImapMirror::Fetch(std::size_t most, bool includeRead) {
    fetched_.clear();
    if (!running_) {
        // A backfill looks at the whole Inbox where the keyword tells what was archived already.
        running_ = true;
        cursor_ = includeRead && keywords_ ? 0 : state_.highest;
    }
    const std::vector<std::uint32_t> uids = server_.UidsAbove(cursor_, includeRead, keywords_ ? kArchivedKeyword : "");
    std::size_t next = 0;
    // A window as large as the pass still wants, growing while windows turn out to hold mostly
    // mail that is passed over: few round trips through ordinary mail, and few header lines
    // fetched twice where the Inbox is all faxes.
    std::size_t size = most;
    std::uint64_t bytes = 0;
    while (fetched_.size() < most && bytes < kPassBytes && next < uids.size()) {
        size = std::min(std::max(size, most - fetched_.size()), kSiftWindow);
        const std::size_t end = std::min(next + size, uids.size());
        const std::vector<std::uint32_t> window(uids.begin() + static_cast<std::ptrdiff_t>(next),
                                                uids.begin() + static_cast<std::ptrdiff_t>(end));
        const auto headers = server_.HeadersOf(window, sieve_.fields.empty() ? kSizeOnly : sieve_.fields);
        std::vector<std::uint32_t> wanted;
        for (const std::uint32_t uid : window) {
            if (fetched_.size() + wanted.size() >= most || bytes >= kPassBytes) break;
            ++next;
            cursor_ = uid;
            const auto found = headers.find(uid);
            if (found == headers.end()) continue;  // gone meanwhile
            if (sieve_.wanted && !sieve_.wanted(found->second.fields)) {
                // Left alone as the add-in would leave it, without its body: passed by the highest
                // UID handled, it stays unseen on the server and is not looked at again.
                if (uid > state_.highest) ++passedOver_;
                continue;
            }
            wanted.push_back(uid);
            bytes += found->second.size;
        }
        if (wanted.size() * 2 < size) size *= 4;
        FetchBodies(Claim(wanted), headers);
    }
    if (fetched_.empty()) {
        // The end of this run: what it passed over is handled; the next one looks again at what
        // it left.
        Advance(cursor_);
        running_ = false;
        unresolved_ = 0;
    }
    return fetched_.size();
}

void ImapMirror::FetchBodies(const std::vector<std::uint32_t>& uids,
                             const std::map<std::uint32_t, ImapServer::Header>& headers) {
    std::vector<std::uint32_t> gone;
    for (std::size_t next = 0; next < uids.size();) {
        if (headers.at(uids[next]).size > kBatchBytes) {
            const std::uint32_t uid = uids[next++];
            WriteMirrorFile(uid, [&](int fd) { server_.FetchToFile(uid, fd); });
            continue;
        }
        std::vector<std::uint32_t> batch;
        for (std::uint64_t bytes = 0; next < uids.size() && batch.size() < kBatchMessages; ++next) {
            const std::uint64_t size = headers.at(uids[next]).size;
            if (size > kBatchBytes || bytes + size > kBatchBytes) break;
            bytes += size;
            batch.push_back(uids[next]);
        }
        std::set<std::uint32_t> missing(batch.begin(), batch.end());
        server_.FetchWhole(batch, [&](std::uint32_t uid, std::string_view message) {
            // Once each, and only what was asked for, whatever the server sends.
            if (missing.erase(uid) == 0) return;
            WriteMirrorFile(uid, [&](int fd) { WriteAll(fd, message, mirror_ / "tmp" / MirrorFileName(uid)); });
        });
        gone.insert(gone.end(), missing.begin(), missing.end());
    }
    if (gone.empty()) return;
    std::sort(gone.begin(), gone.end());
    // Expunged since it was claimed, or an answer that left it out: the next run looks again.
    unresolved_ = unresolved_ ? std::min(unresolved_, gone.front()) : gone.front();
    if (keywords_) server_.RemoveFlags(gone, {ClaimKeyword()});
}

void ImapMirror::WriteMirrorFile(std::uint32_t uid, const std::function<void(int fd)>& write) {
    const fs::path name = MirrorFileName(uid);
    const fs::path partial = mirror_ / "tmp" / name;
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw HostError(errno, "Can't write " + partial.string());
    try {
        write(fd);
    } catch (...) {
        ::close(fd);
        ::unlink(partial.c_str());
        throw;
    }
    if (::close(fd) != 0) throw HostError(errno, "Can't write " + partial.string());
    fs::rename(partial, mirror_ / "new" / name);
    fetched_.push_back(uid);
}

void ImapMirror::Advance(std::uint32_t uid) {
    const std::uint32_t handled = unresolved_ ? std::min(unresolved_ - 1, uid) : uid;
    if (handled <= state_.highest) return;
    state_.highest = handled;
    WriteState();
}

std::vector<std::string> ImapMirror::Reconcile(const std::set<std::string>& stillDue, const std::set<std::string>& archived) {
    return Reconcile(true, stillDue, archived);
}

std::vector<std::string> ImapMirror::Reconcile(bool advance, const std::set<std::string>& stillDue,
                                               const std::set<std::string>& archived) {
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
    std::set<std::string> due, kept;
    for (const std::string& name : stillDue) due.insert(BaseOf(name));
    for (const std::string& name : archived) kept.insert(BaseOf(name));

    // Local Inbox: marked read there (a clean-up that failed, or a crash's leftover) is marked
    // seen on the server; archived and kept there gets the keyword. A message still due goes too:
    // it stays unseen on the server, above the highest UID handled.
    std::optional<std::uint32_t> firstDue;
    std::vector<std::uint32_t> seen, done, claimed;
    for (const fs::path& file : MessagesIn(mirror_)) {
        const std::string name = file.filename().string();
        if (const auto uid = UidOf(name)) {
            claimed.push_back(*uid);
            if (due.contains(BaseOf(name))) {
                firstDue = std::min(firstDue.value_or(*uid), *uid);
            } else {
                const bool read = maildir::SplitMessageName(name).flags.find('S') != std::string::npos;
                if (read) seen.push_back(*uid);
                if (read || kept.contains(BaseOf(name))) done.push_back(*uid);
            }
        }
    }
    claimed.insert(claimed.end(), fetched_.begin(), fetched_.end());
    struct LocalFolder {
        std::string name;
        std::vector<fs::path> files;
        std::vector<std::uint32_t> uids;
    };
    std::vector<LocalFolder> folders;
    for (const auto& entry : fs::directory_iterator(mirror_)) {
        const std::string folder = entry.path().filename().string();
        if (!entry.is_directory() || !folder.starts_with('.')) continue;
        LocalFolder local{folder, MessagesIn(entry.path()), {}};
        for (const fs::path& file : local.files) {
            if (const auto uid = UidOf(file.filename().string())) local.uids.push_back(*uid);
        }
        std::sort(local.uids.begin(), local.uids.end());
        done.insert(done.end(), local.uids.begin(), local.uids.end());
        claimed.insert(claimed.end(), local.uids.begin(), local.uids.end());
        folders.push_back(std::move(local));
    }
    // The keyword first: once it is there, no installation archives the message again, whatever
    // becomes of the move; the claim goes while the message is still in the Inbox.
    bool recorded = true;
    if (keywords_) {
        recorded = act("Can't mark " + std::to_string(done.size()) + " messages archived",
                       [&] { server_.AddFlags(done, {kArchivedKeyword}); });
        act("Can't let go of " + std::to_string(claimed.size()) + " messages",
            [&] { server_.RemoveFlags(claimed, {ClaimKeyword()}); });
    }
    if (!seen.empty()) {
        act("Can't mark " + std::to_string(seen.size()) + " messages read", [&] { server_.AddFlags(seen, {"\\Seen"}); });
    }
    for (const fs::path& file : MessagesIn(mirror_)) fs::remove(file);
    for (const LocalFolder& local : folders) {
        bool moved = recorded;
        if (moved && !local.uids.empty()) {
            // The local copies go only once the server has moved the messages: a crash, or a
            // server that refuses, leaves them for the next reconcile or start.
            if (local.name == kTrashFolder) {
                moved = act("Can't delete " + std::to_string(local.uids.size()) + " messages",
                            [&] { server_.MoveToTrash(local.uids); });
            } else {
                moved = act("Can't move " + std::to_string(local.uids.size()) + " messages to " + local.name.substr(1),
                            [&] { server_.MoveToChild(local.uids, local.name.substr(1)); });
            }
        }
        if (!moved) continue;
        for (const fs::path& file : local.files) fs::remove(file);
    }
    if (firstDue) unresolved_ = unresolved_ ? std::min(unresolved_, *firstDue) : *firstDue;
    // Everything up to the pass's cursor was fetched, passed over, or left unresolved.
    if (advance && !fetched_.empty()) Advance(cursor_);
    fetched_.clear();
    return failures;
}

}  // namespace vexa::linuxhost
