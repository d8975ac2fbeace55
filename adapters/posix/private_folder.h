// A folder only this process's user can enter, made afresh under an unpredictable name, for
// files a command keeps while it runs (the viewer's copies of a server archive's files). Another
// local user can plant nothing in it beforehand, and the files are created in it through its
// descriptor, never following a link, so that nothing is written where someone else chose.
#pragma once

#include <filesystem>
#include <string>

namespace vexa::posix {

// Makes `folder` and the folders on the way to it that are missing, each with mode 0700 whatever
// the umask (under umask 000 create_directories would make them writable for everyone); the
// ones there already are left as they are. Throws HostError.
void MakePrivateFolders(const std::filesystem::path& folder);

class PrivateFolder {
public:
    // Under $XDG_RUNTIME_DIR when set, else $TMPDIR, else /tmp; `prefix` starts its name.
    // Throws HostError.
    explicit PrivateFolder(const std::string& prefix);
    ~PrivateFolder();  // removes it with everything in it
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    const std::filesystem::path& Path() const noexcept { return path_; }
    // A new file `name` (a plain name, no '/'), mode 0600, open for writing; fails when anything
    // of that name is there. Throws HostError.
    int CreateFile(const std::string& name) const;
    // Renames `from` to `to` within the folder. Throws HostError.
    void Rename(const std::string& from, const std::string& to) const;
    void Remove(const std::string& name) const noexcept;
    bool Exists(const std::string& name) const noexcept;

private:
    std::filesystem::path path_;
    int fd_ = -1;
};

}  // namespace vexa::posix
