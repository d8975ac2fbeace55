// The file operations that storing an attachment needs beyond the host's own save: whether a
// name is taken, flushing a saved file to disk before its row is committed, and removing a file
// whose row was not committed. Linux implements them over POSIX calls.
#pragma once

#include <string>

namespace vexa {

class FileStore {
public:
    virtual ~FileStore() = default;
    virtual bool Exists(const std::string& path) = 0;
    // Makes the file's contents durable; fails with HostError when the disk refuses.
    virtual void Flush(const std::string& path) = 0;
    // Removes the file; a file that is not there is not an error.
    virtual void Remove(const std::string& path) = 0;
};

}  // namespace vexa
