#include "adapters/posix/posix_file_store.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "adapters/posix/posix_error.h"

namespace vexa::posix {
namespace {

// Up to this many files a group syncs each file and folder; more are synced by one syncfs of
// their file system, which writes their data and inodes in one sweep instead of a wait per file
// (at the price of also writing whatever else is pending on that file system).
constexpr std::size_t kFilesSyncedOneByOne = 8;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int Get() const { return fd_; }

private:
    int fd_;
};

Descriptor OpenForSync(const std::string& path, int flags, bool makePrivate) {
    Descriptor fd(::open(path.c_str(), flags | O_CLOEXEC));
    if (fd.Get() < 0) throw PosixError("Can't open " + path, errno);
    // The host saved the file with the umask's bits; a fax is the user's alone.
    if (makePrivate && ::fchmod(fd.Get(), S_IRUSR | S_IWUSR) != 0) throw PosixError("Can't protect " + path, errno);
    return fd;
}

void SyncOpen(const Descriptor& fd, const std::string& path) {
    if (::fsync(fd.Get()) != 0) throw PosixError("Can't write " + path + " to disk", errno);
}

void Sync(const std::string& path, int flags, bool makePrivate = false) {
    SyncOpen(OpenForSync(path, flags, makePrivate), path);
}

std::string FolderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

}  // namespace

struct PosixFileStore::Group {
    struct Flushed {
        std::string path;
        Descriptor fd;
    };
    std::vector<Flushed> flushed;
    std::set<std::string> folders;
    std::vector<std::pair<std::string, std::string>> renames;
};

PosixFileStore::PosixFileStore() = default;
PosixFileStore::~PosixFileStore() = default;

bool PosixFileStore::Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

void PosixFileStore::Flush(const std::string& path) {
    if (group_) {
        Descriptor fd = OpenForSync(path, O_RDONLY | O_NOFOLLOW, true);
        // Writing starts now, so the group's sync mostly waits for what is already under way.
        ::sync_file_range(fd.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
        group_->flushed.push_back({path, std::move(fd)});
        group_->folders.insert(FolderOf(path));
        return;
    }
    Sync(path, O_RDONLY | O_NOFOLLOW, true);
    Sync(FolderOf(path), O_RDONLY | O_DIRECTORY);
}

void PosixFileStore::Remove(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw PosixError("Can't remove " + path, errno);
    if (group_) {
        std::erase_if(group_->flushed, [&](const Group::Flushed& file) { return file.path == path; });
        std::erase_if(group_->renames, [&](const auto& rename) { return rename.first == path; });
    }
}

void PosixFileStore::Rename(const std::string& from, const std::string& to) {
    if (group_) {
        group_->renames.emplace_back(from, to);
        return;
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        const int err = errno;
        if (err != EINVAL && err != ENOSYS) throw PosixError("Can't rename " + from + " to " + to, err);
        // A file system without renameat2's flags: a hard link never replaces either.
        if (::link(from.c_str(), to.c_str()) != 0) throw PosixError("Can't rename " + from + " to " + to, errno);
        Remove(from);
    }
    // No sync of the folder: the file and its pending name are on disk (Flush) and its row is
    // committed, so a crash that loses the new name leaves the pending one, which the next
    // connection's recovery names again. One fsync fewer for every archived fax.
}

void PosixFileStore::BeginGroup() { group_ = std::make_unique<Group>(); }

void PosixFileStore::SyncGroup() {
    if (!group_) return;
    auto& flushed = group_->flushed;
    if (flushed.size() <= kFilesSyncedOneByOne) {
        for (const auto& file : flushed) SyncOpen(file.fd, file.path);
        for (const auto& folder : group_->folders) Sync(folder, O_RDONLY | O_DIRECTORY);
    } else {
        // Each file system once: the folders' entries are on the file system of their files.
        std::set<dev_t> synced;
        for (const auto& file : flushed) {
            struct stat info {};
            if (::fstat(file.fd.Get(), &info) != 0) throw PosixError("Can't write " + file.path + " to disk", errno);
            if (!synced.insert(info.st_dev).second) continue;
            if (::syncfs(file.fd.Get()) != 0) throw PosixError("Can't write " + file.path + " to disk", errno);
        }
    }
}

void PosixFileStore::FinishGroup() noexcept {
    if (!group_) return;
    const auto group = std::move(group_);
    for (const auto& [from, to] : group->renames) {
        try {
            Rename(from, to);
        } catch (...) {
            // The pending name stays; the next connection's recovery gives the stored one.
        }
    }
}

void PosixFileStore::LeaveGroup() noexcept { group_.reset(); }

void PosixFileStore::AbortGroup() noexcept {
    if (!group_) return;
    const auto group = std::move(group_);
    for (const auto& file : group->flushed) ::unlink(file.path.c_str());
    for (const auto& rename : group->renames) ::unlink(rename.first.c_str());
}

std::vector<std::string> PosixFileStore::List(const std::string& folder) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) throw PosixError("Can't read the folder " + folder, errno);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    if (errno != 0) throw PosixError("Can't read the folder " + folder, errno);
    return names;
}

}  // namespace vexa::posix
