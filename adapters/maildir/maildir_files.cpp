#include "adapters/maildir/maildir_files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <map>
#include <string_view>
#include <unordered_set>
#include <vector>
#include <atomic>
#include <optional>
#include <cerrno>
#include <system_error>
#include <tuple>

#include "adapters/maildir/dovecot_keywords.h"
#include "adapters/maildir/subscriptions.h"
#include "adapters/posix/posix_error.h"

namespace vexa::maildir {
namespace fs = std::filesystem;
namespace {

constexpr const char* kPlaces[] = {"new", "cur"};

// The message bases of one folder as last listed, with the modification times of its new/ and
// cur/ then. Listing the store folder for every move made archiving a mailbox quadratic; a folder
// whose directories kept their times since has gained no name but ours. Bases are kept as hashes,
// to stay small for a large folder: a collision only costs a fresh base for the moved message.
// The listed ones in a sorted array (eight bytes each, where a hash set takes four times that),
// those our own moves add in a small set, merged into the array when it grows.
class BaseIndex {
public:
    timespec times[2]{};

    void Add(std::size_t hash) {
        if (Contains(hash)) return;
        added_.insert(hash);
        if (added_.size() < kMergeAt) return;
        const auto middle = listed_.size();
        listed_.insert(listed_.end(), added_.begin(), added_.end());
        std::sort(listed_.begin() + static_cast<std::ptrdiff_t>(middle), listed_.end());
        std::inplace_merge(listed_.begin(), listed_.begin() + static_cast<std::ptrdiff_t>(middle), listed_.end());
        added_.clear();
    }
    // After a listing's Add-free fill: the array sorted once.
    void Listed(std::vector<std::size_t> hashes) {
        std::sort(hashes.begin(), hashes.end());
        hashes.erase(std::unique(hashes.begin(), hashes.end()), hashes.end());
        hashes.shrink_to_fit();
        listed_ = std::move(hashes);
        added_.clear();
    }
    bool Contains(std::size_t hash) const {
        return added_.contains(hash) || std::binary_search(listed_.begin(), listed_.end(), hash);
    }

private:
    static constexpr std::size_t kMergeAt = 1024;
    std::vector<std::size_t> listed_;
    std::unordered_set<std::size_t> added_;
};

std::size_t HashBase(std::string_view base) { return std::hash<std::string_view>{}(base); }

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// The times of new/ and cur/, or nothing when either cannot be read.
std::optional<std::array<timespec, 2>> PlaceTimes(const fs::path& folder) {
    std::array<timespec, 2> times{};
    for (std::size_t i = 0; i < 2; ++i) {
        struct stat info {};
        if (::stat((folder / kPlaces[i]).c_str(), &info) != 0) return std::nullopt;
        times[i] = info.st_mtim;
    }
    return times;
}

std::map<fs::path, BaseIndex>& BaseIndexes() {
    static std::map<fs::path, BaseIndex> indexes;
    return indexes;
}

// The folder's index, listed again when new/ or cur/ changed since.
const BaseIndex* CurrentBaseIndex(const fs::path& folder) {
    const auto times = PlaceTimes(folder);
    if (!times) return nullptr;
    auto& indexes = BaseIndexes();
    if (const auto it = indexes.find(folder); it != indexes.end() && SameTime(it->second.times[0], (*times)[0]) &&
                                               SameTime(it->second.times[1], (*times)[1])) {
        return &it->second;
    }
    BaseIndex index;
    index.times[0] = (*times)[0];
    index.times[1] = (*times)[1];
    std::vector<std::size_t> hashes;
    for (const char* place : kPlaces) {
        std::error_code ec;
        for (fs::directory_iterator it(folder / place, ec), end; !ec && it != end; it.increment(ec)) {
            hashes.push_back(HashBase(SplitMessageName(it->path().filename().string()).base));
        }
        if (ec) {
            indexes.erase(folder);
            return nullptr;
        }
    }
    index.Listed(std::move(hashes));
    return &(indexes[folder] = std::move(index));
}

// After our own move into `folder`, so that it does not make the next move list the folder again.
// Another process's change to the folder in the moment between the check and the move goes
// unseen: it could matter only for a message with the very same base, which Maildir names keep
// unique anyway (the check is for a copy of a message that is already there).
void NoteMovedBase(const fs::path& folder, const std::string& base) {
    auto& indexes = BaseIndexes();
    const auto it = indexes.find(folder);
    if (it == indexes.end()) return;
    const auto after = PlaceTimes(folder);
    if (!after) {
        indexes.erase(it);
        return;
    }
    it->second.times[0] = (*after)[0];
    it->second.times[1] = (*after)[1];
    it->second.Add(HashBase(base));
}

bool BaseTaken(const fs::path& folder, const std::string& base) {
    if (const BaseIndex* index = CurrentBaseIndex(folder)) return index->Contains(HashBase(base));
    for (const char* place : kPlaces) {
        std::error_code ec;
        for (fs::directory_iterator it(folder / place, ec), end; !ec && it != end; it.increment(ec)) {
            if (SplitMessageName(it->path().filename().string()).base == base) return true;
        }
    }
    return false;
}

// The slow road for a message that lives on another file system: a copy completed in tmp/ and
// then renamed into place, so a reader of the folder never sees half a message.
fs::path CopyAcross(const fs::path& file, const fs::path& folder, const std::string& place, MessageName name) {
    const fs::path staged = folder / "tmp" / NewUniqueBase();
    std::error_code ec;
    fs::copy_file(file, staged, fs::copy_options::none, ec);
    if (ec) {
        fs::remove(staged, ec);
        throw ErrnoError("Can't copy " + file.string() + " to " + staged.string(), ec.value());
    }
    for (int attempt = 0;; ++attempt) {
        if (attempt > 0) name.base = NewUniqueBase();
        const fs::path target = folder / place / JoinMessageName(name);
        const int err = RenameNoReplace(staged, target);
        if (err == EEXIST && attempt < 5) continue;
        if (err != 0) {
            fs::remove(staged, ec);
            throw ErrnoError("Can't move " + staged.string() + " to " + target.string(), err);
        }
        if (::unlink(file.c_str()) != 0) {
            // Keeping both would show the message twice; the original stays where it was.
            const int unlinkErr = errno;
            fs::remove(target, ec);
            throw ErrnoError("Can't remove " + file.string(), unlinkErr);
        }
        return target;
    }
}

// The Maildir folder whose new/ or cur/ holds `file`, if it lies in one.
std::optional<fs::path> FolderOf(const fs::path& file) {
    const fs::path dir = file.parent_path();
    if (dir.filename() != "new" && dir.filename() != "cur") return std::nullopt;
    if (!IsMaildir(dir.parent_path())) return std::nullopt;
    return dir.parent_path();
}

// When only new/ changed, Dovecot rereads new/ alone, and a message missing there may just have
// gone to cur/, so it stays listed: a client idling on the folder kept seeing a moved fax. A change
// of cur/ makes Dovecot read both and drop the message. The move itself is done either way, so a
// failure here only delays what clients see until Dovecot's next full check.
void AnnounceRemoval(const fs::path& folder) { ::utimensat(AT_FDCWD, (folder / "cur").c_str(), nullptr, 0); }

}  // namespace

void AnnounceRemovals(const fs::path& folder) noexcept {
    // Dovecot skips names that start with a dot when it reads cur/.
    const std::string marker = (folder / "cur" / (".vexa-announce." + std::to_string(::getpid()))).string();
    const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
    ::unlink(marker.c_str());
}

HostError ErrnoError(const std::string& context, int err) { return posix::PosixError(context, err); }

bool IsMaildir(const fs::path& folder) {
    std::error_code ec;
    return fs::is_directory(folder / "cur", ec) && fs::is_directory(folder / "new", ec) &&
           fs::is_directory(folder / "tmp", ec);
}

std::vector<fs::path> ListMessages(const fs::path& folder) {
    struct Entry {
        timespec mtime;
        std::string name;
        fs::path path;
    };
    std::vector<Entry> entries;
    for (const char* place : kPlaces) {
        const fs::path dir = folder / place;
        std::error_code ec;
        fs::directory_iterator it(dir, ec);
        for (const fs::directory_iterator end{}; !ec && it != end; it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name.starts_with('.')) continue;
            struct stat info {};
            // A message taken by another reader between listing and stat is simply not there.
            if (::stat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
            entries.push_back({info.st_mtim, std::move(name), it->path()});
        }
        if (ec) throw ErrnoError("Can't read " + dir.string(), ec.value());
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return std::tie(a.mtime.tv_sec, a.mtime.tv_nsec, a.name) < std::tie(b.mtime.tv_sec, b.mtime.tv_nsec, b.name);
    });
    std::vector<fs::path> paths;
    paths.reserve(entries.size());
    for (auto& entry : entries) paths.push_back(std::move(entry.path));
    return paths;
}

std::optional<fs::path> FindMessage(const fs::path& folder, const std::string& base) {
    for (const char* place : kPlaces) {
        std::error_code ec;
        for (fs::directory_iterator it(folder / place, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.starts_with('.') || SplitMessageName(name).base != base) continue;
            // Its own error code: a file renamed again since the listing must not end the listing.
            std::error_code statEc;
            if (it->is_regular_file(statEc)) return it->path();
        }
    }
    return std::nullopt;
}

namespace {

// cur/, new/, tmp/ and the marker inside `folder`, each where missing.
void CompleteMaildirFolder(const fs::path& folder) {
    for (const char* sub : {"cur", "new", "tmp"}) {
        const fs::path dir = folder / sub;
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) throw ErrnoError("Can't create the folder " + dir.string(), errno);
    }
    const fs::path marker = folder / "maildirfolder";
    const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::close(fd) != 0) throw ErrnoError("Can't create " + marker.string(), errno);
}

// A Maildir++ folder (".Name" in a Maildir) into its Maildir's subscriptions. Subscribing is a
// courtesy to mail readers that list subscribed folders only: a lock left behind by a killed
// process must not keep a fax in the Inbox, so a failure here does not stop the folder.
void SubscribeFolder(const fs::path& folder) noexcept {
    const std::string entry = folder.filename().string();
    try {
        if (entry.size() < 2 || entry.front() != '.' || !IsMaildir(folder.parent_path())) return;
        Subscribe(folder.parent_path(), entry.substr(1));
    } catch (...) {
    }
}

}  // namespace

bool CreateMaildirFolder(const fs::path& folder) {
    std::error_code ec;
    if (fs::is_directory(folder, ec)) {
        if (IsMaildir(folder)) return false;
        SubscribeFolder(folder);
        CompleteMaildirFolder(folder);
        return true;
    }
    // Subscribed before it exists: a crash in between leaves a subscription to a folder that the
    // next attempt makes, where a folder made first would be found later and never subscribed.
    SubscribeFolder(folder);
    static std::atomic<unsigned> counter{0};
    const fs::path building = folder.parent_path() / "tmp" /
                              ("vexa-folder." + std::to_string(::getpid()) + "." + std::to_string(++counter));
    if (::mkdir(building.c_str(), 0700) != 0) throw ErrnoError("Can't create the folder " + building.string(), errno);
    try {
        CompleteMaildirFolder(building);
        const int err = RenameNoReplace(building, folder);
        if (err == EEXIST || err == ENOTEMPTY) {
            // Another process made it meanwhile.
            fs::remove_all(building, ec);
            return false;
        }
        if (err != 0) throw ErrnoError("Can't create the folder " + folder.string(), err);
    } catch (...) {
        fs::remove_all(building, ec);
        throw;
    }
    return true;
}

int RenameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS) return err;
    // File systems without RENAME_NOREPLACE: link() refuses a taken name just as well.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    if (::unlink(from.c_str()) != 0) {
        const int unlinkErr = errno;
        ::unlink(to.c_str());
        return unlinkErr;
    }
    return 0;
}

fs::path MoveMessageFile(const fs::path& file, const fs::path& folder, const std::string& place, MessageName name) {
    const auto source = FolderOf(file);
    if (source) name.flags = CarryKeywords(name.flags, *source, folder);
    for (int attempt = 0;; ++attempt) {
        if (attempt > 0 || BaseTaken(folder, name.base)) name.base = NewUniqueBase();
        const fs::path target = folder / place / JoinMessageName(name);
        int err = RenameNoReplace(file, target);
        fs::path moved = target;
        if (err == EXDEV) {
            moved = CopyAcross(file, folder, place, name);
            err = 0;
        }
        if (err == 0) {
            NoteMovedBase(folder, SplitMessageName(moved.filename().string()).base);
            if (source) AnnounceRemoval(*source);
            return moved;
        }
        if (err == EEXIST && attempt < 5) continue;
        throw ErrnoError("Can't move " + file.string() + " to " + target.string(), err);
    }
}

}  // namespace vexa::maildir
