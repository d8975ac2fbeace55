#include "adapters/posix/posix_file_store.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "adapters/posix/posix_error.h"

namespace vexa::posix {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int Get() const { return fd_; }

private:
    int fd_;
};

void Sync(const std::string& path, int flags, bool makePrivate = false) {
    Descriptor fd(::open(path.c_str(), flags | O_CLOEXEC));
    if (fd.Get() < 0) throw PosixError("Can't open " + path, errno);
    // The host saved the file with the umask's bits; a fax is the user's alone.
    if (makePrivate && ::fchmod(fd.Get(), S_IRUSR | S_IWUSR) != 0) throw PosixError("Can't protect " + path, errno);
    if (::fsync(fd.Get()) != 0) throw PosixError("Can't write " + path + " to disk", errno);
}

}  // namespace

bool PosixFileStore::Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

void PosixFileStore::Flush(const std::string& path) {
    Sync(path, O_RDONLY | O_NOFOLLOW, true);
    const std::string folder = std::filesystem::path(path).parent_path().string();
    Sync(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
}

void PosixFileStore::Remove(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw PosixError("Can't remove " + path, errno);
}

void PosixFileStore::Rename(const std::string& from, const std::string& to) {
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
