#include "adapters/posix/posix_file_store.h"

#include <cerrno>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "adapters/posix/posix_error.h"

namespace vexa {
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

void Sync(const std::string& path, int flags) {
    Descriptor fd(::open(path.c_str(), flags | O_CLOEXEC));
    if (fd.Get() < 0) throw PosixError("Can't open " + path, errno);
    if (::fsync(fd.Get()) != 0) throw PosixError("Can't write " + path + " to disk", errno);
}

}  // namespace

bool PosixFileStore::Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

void PosixFileStore::Flush(const std::string& path) {
    Sync(path, O_RDONLY);
    const std::string folder = std::filesystem::path(path).parent_path().string();
    Sync(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
}

void PosixFileStore::Remove(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw PosixError("Can't remove " + path, errno);
}

}  // namespace vexa
