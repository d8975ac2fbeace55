#include "adapters/posix/private_folder.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "adapters/posix/posix_error.h"

namespace vexa::posix {
namespace {

std::filesystem::path Base() {
    for (const char* variable : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* value = std::getenv(variable);
        if (value && *value == '/') return value;
    }
    return "/tmp";
}

void CheckName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        throw HostError(EINVAL, "Not a file name: " + name);
}

}  // namespace

void MakePrivateFolders(const std::filesystem::path& folder) {
    if (folder.empty()) return;
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return;
        throw PosixError("Can't create the folder " + folder.string(), ENOTDIR);
    }
    if (folder.has_parent_path() && folder.parent_path() != folder) MakePrivateFolders(folder.parent_path());
    // mkdir takes away what the umask says, never adds: 0700 stays 0700 or less.
    if (::mkdir(folder.c_str(), S_IRWXU) != 0 && errno != EEXIST)
        throw PosixError("Can't create the folder " + folder.string(), errno);
}

PrivateFolder::PrivateFolder(const std::string& prefix) {
    std::string pattern = (Base() / (prefix + "XXXXXX")).string();
    // mkdtemp makes the folder 0700 under a name nobody could have made before.
    if (::mkdtemp(pattern.data()) == nullptr) throw PosixError("Can't make a private folder in " + Base().string(), errno);
    path_ = pattern;
    fd_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) {
        const int err = errno;
        ::rmdir(path_.c_str());
        throw PosixError("Can't open " + path_.string(), err);
    }
}

PrivateFolder::~PrivateFolder() {
    if (fd_ >= 0) ::close(fd_);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

int PrivateFolder::CreateFile(const std::string& name) const {
    CheckName(name);
    const int fd = ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw PosixError("Can't create " + (path_ / name).string(), errno);
    return fd;
}

void PrivateFolder::Rename(const std::string& from, const std::string& to) const {
    CheckName(from);
    CheckName(to);
    if (::renameat(fd_, from.c_str(), fd_, to.c_str()) != 0) throw PosixError("Can't rename " + (path_ / from).string(), errno);
}

void PrivateFolder::Remove(const std::string& name) const noexcept {
    if (name.find('/') == std::string::npos) ::unlinkat(fd_, name.c_str(), 0);
}

bool PrivateFolder::Exists(const std::string& name) const noexcept {
    struct stat info {};
    return name.find('/') == std::string::npos && ::fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(info.st_mode);
}

}  // namespace vexa::posix
