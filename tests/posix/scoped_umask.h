// A process umask set for the length of a test and then put back, to show that files meant to
// be private come out private whatever umask the user runs with.
#pragma once

#include <sys/stat.h>

#include <filesystem>

namespace vexa::test {

class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;
    ~ScopedUmask() { ::umask(old_); }

private:
    mode_t old_;
};

// The permission bits of what is at `path`, as in `ls -l` (0600, 0700).
inline unsigned PermissionBits(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return 01000;  // none such: matches no mode
    return info.st_mode & 07777;
}

}  // namespace vexa::test
