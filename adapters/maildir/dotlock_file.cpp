#include "adapters/maildir/dotlock_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>

#include "adapters/maildir/gobject_ref.h"
#include "adapters/maildir/maildir_files.h"

namespace vexa::maildir {
namespace fs = std::filesystem;
namespace {

// Dovecot holds these locks for milliseconds; one older than this belongs to a process that died.
constexpr std::time_t kStaleLockSeconds = 120;
constexpr int kLockAttempts = 250;
constexpr auto kLockPause = std::chrono::milliseconds(20);

// The lock file, removed again unless its text was renamed into place.
class DotLock {
public:
    explicit DotLock(const fs::path& file) : path_(file.string() + ".lock") {
        for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
            fd_ = UniqueFd(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (fd_) return;
            if (errno != EEXIST) throw ErrnoError("Can't lock " + file.string(), errno);
            struct stat info {};
            if (::stat(path_.c_str(), &info) == 0 && info.st_mtime + kStaleLockSeconds < std::time(nullptr)) {
                BreakStale(info);
                continue;
            }
            std::this_thread::sleep_for(kLockPause);
        }
        throw HostError(EBUSY, "Can't lock " + file.string() + ": " + path_.string() + " is held by another program");
    }
    DotLock(const DotLock&) = delete;
    DotLock& operator=(const DotLock&) = delete;
    ~DotLock() {
        if (held_) ::unlink(path_.c_str());
    }

    // Writes `text` into the lock file and renames it over `file`, which releases the lock.
    void Replace(const fs::path& file, const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd_.Get(), text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw ErrnoError("Can't write " + path_.string(), errno);
            done += static_cast<std::size_t>(n);
        }
        if (::fsync(fd_.Get()) != 0) throw ErrnoError("Can't write " + path_.string(), errno);
        if (const int err = fd_.Close(); err != 0) throw ErrnoError("Can't write " + path_.string(), err);
        // A file Dovecot made keeps its permissions, so Dovecot can still read what we wrote.
        struct stat old {};
        if (::stat(file.c_str(), &old) == 0) ::chmod(path_.c_str(), old.st_mode & 07777);
        if (::rename(path_.c_str(), file.c_str()) != 0) throw ErrnoError("Can't replace " + file.string(), errno);
        held_ = false;
    }

private:
    // Two processes can both find the lock stale, and removing it by name would let the slower
    // one remove the lock the faster one has just taken. So the stale file is first renamed to a
    // name of this process's own: only one rename of it succeeds, and only that process removes
    // it; a file that turns out to be another, fresh lock is put back.
    void BreakStale(const struct stat& stale) {
        static std::atomic<unsigned> counter{0};
        const fs::path aside = path_.string() + ".stale." + std::to_string(::getpid()) + "." + std::to_string(++counter);
        if (::rename(path_.c_str(), aside.c_str()) != 0) return;
        struct stat taken {};
        const bool same = ::stat(aside.c_str(), &taken) == 0 && taken.st_dev == stale.st_dev && taken.st_ino == stale.st_ino;
        if (!same && RenameNoReplace(aside, path_) == 0) return;
        ::unlink(aside.c_str());
    }

    fs::path path_;
    UniqueFd fd_;
    bool held_ = true;
};

}  // namespace

std::string ReadSmallFile(const fs::path& file) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT) return "";
        throw ErrnoError("Can't read " + file.string(), errno);
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw ErrnoError("Can't read " + file.string(), errno);
        if (n == 0) return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

std::optional<std::string> RewriteLocked(const fs::path& file,
                                         const std::function<std::optional<std::string>(const std::string&)>& rewrite) {
    DotLock lock(file);
    auto text = rewrite(ReadSmallFile(file));
    if (text) lock.Replace(file, *text);
    return text;
}

}  // namespace vexa::maildir
