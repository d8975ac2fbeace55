// The file operations that storing an attachment needs beyond the host's own save: whether a
// name is taken, flushing a saved file to disk before its row is committed, giving it its name
// once the row is committed, removing a file whose row was not, and listing a folder for the
// files a crash left half-stored. Linux implements them over POSIX calls.
#pragma once

#include <string>
#include <vector>

namespace vexa {

class FileStore {
public:
    virtual ~FileStore() = default;
    virtual bool Exists(const std::string& path) = 0;
    // Makes the file's contents durable; fails with HostError when the disk refuses.
    virtual void Flush(const std::string& path) = 0;
    // Removes the file; a file that is not there is not an error.
    virtual void Remove(const std::string& path) = 0;
    // Gives the file at `from` the name `to` in the same folder. Never replaces: fails with
    // HostError when `to` exists. The new name need not be durable at once: a pending file whose
    // row is committed is named again by the recovery at the next connection.
    virtual void Rename(const std::string& from, const std::string& to) = 0;
    // The names (not paths) of the entries of `folder`; an unreadable folder fails.
    virtual std::vector<std::string> List(const std::string& folder) = 0;
};

}  // namespace vexa
