#include "adapters/posix/atomic_file.h"
#include "adapters/posix/private_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>
#include <utility>

#include "adapters/posix/posix_error.h"

namespace vexa::posix {
namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd& operator=(UniqueFd&&) = delete;
    ~UniqueFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    int Get() const noexcept { return fd_; }

    // Closing explicitly lets the writer see the errors some file systems (NFS) only
    // report at close.
    int Close() noexcept {
        return ::close(std::exchange(fd_, -1));
    }

private:
    int fd_;
};

// Removes the temporary file on every path out of the writer except a successful rename.
class TempFileGuard {
public:
    explicit TempFileGuard(std::filesystem::path path) : path_(std::move(path)) {}
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    ~TempFileGuard() {
        if (armed_) {
            ::unlink(path_.c_str());
        }
    }

    void Release() noexcept { armed_ = false; }

private:
    std::filesystem::path path_;
    bool armed_ = true;
};

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void WriteAll(int fd, std::string_view contents, const std::string& context) {
    while (!contents.empty()) {
        ssize_t written = ::write(fd, contents.data(), contents.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw PosixError(context, errno);
        }
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
}

// A name no other writer picks: several processes may save the same file at once, and a
// leftover from a crashed save must not block the next one.
std::pair<UniqueFd, std::filesystem::path> CreateTempFile(const std::filesystem::path& target,
                                                          const std::string& context) {
    std::random_device entropy;
    std::uniform_int_distribution<unsigned long long> pick;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "." + target.filename().string() + ".tmp-" + std::to_string(pick(entropy));
        std::filesystem::path candidate = target.parent_path() / name;
        // Never writable by others, whatever the umask (under umask 000, 0666 would be).
        int fd = OpenRetrying(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            return {UniqueFd(fd), std::move(candidate)};
        }
        if (errno != EEXIST) {
            throw PosixError(context, errno);
        }
    }
    throw PosixError(context, EEXIST);
}

}  // namespace

std::optional<std::string> ReadFileIfPresent(const std::filesystem::path& path) {
    const std::string context = "Can't read " + path.string();
    UniqueFd fd(OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        // ENOTDIR: a path component is a regular file, so nothing can exist at the path.
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::nullopt;
        }
        throw PosixError(context, errno);
    }
    std::string contents;
    char buffer[8192];
    for (;;) {
        ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw PosixError(context, errno);
        }
        if (got == 0) {
            return contents;
        }
        contents.append(buffer, static_cast<std::size_t>(got));
    }
}

void WriteFileAtomically(const std::filesystem::path& target, std::string_view contents, FileAccess access) {
    const std::string context = "Can't write " + target.string();
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    try {
        MakePrivateFolders(folder);
    } catch (const HostError& e) {
        throw PosixError(context, e.Number());
    }

    auto [fd, tempPath] = CreateTempFile(folder / target.filename(), context);
    TempFileGuard guard(tempPath);

    struct stat existing {};
    if (access == FileAccess::Private) {
        if (::fchmod(fd.Get(), S_IRUSR | S_IWUSR) != 0) {
            throw PosixError(context, errno);
        }
    } else if (::stat(target.c_str(), &existing) == 0 && ::fchmod(fd.Get(), existing.st_mode & 07777) != 0) {
        throw PosixError(context, errno);
    }
    WriteAll(fd.Get(), contents, context);
    // Without the fsync the rename can reach the disk before the data does, and a crash
    // then leaves an empty file under the target's name.
    if (::fsync(fd.Get()) != 0) {
        throw PosixError(context, errno);
    }
    if (fd.Close() != 0) {
        throw PosixError(context, errno);
    }
    if (::rename(tempPath.c_str(), target.c_str()) != 0) {
        throw PosixError(context, errno);
    }
    guard.Release();

    // Makes the rename itself durable. The new contents are already in place, so a failure
    // here is not reported: the caller would take it to mean the old value stayed.
    UniqueFd folderFd(OpenRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.Get() >= 0) {
        ::fsync(folderFd.Get());
    }
}

}  // namespace vexa::posix
