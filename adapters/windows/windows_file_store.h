// The attachment files on Windows: whether a name is taken, flushing a saved file to disk before
// its row is committed, and removing a file whose row was not. The add-in's platform wiring
// hands one to the archive code.
#pragma once

#include <string>

#include "archive/file_store.h"

namespace vexa::windows {

class WindowsFileStore final : public FileStore {
public:
    // A file or folder. A name the system refuses to look at because another program holds it
    // open counts as taken.
    bool Exists(const std::string& path) override;
    // FlushFileBuffers on the file; HostError with the Win32 code when it cannot be opened for
    // writing or flushed.
    void Flush(const std::string& path) override;
    // A file that is not there, or whose folder is not, is not an error; a read-only file or a
    // folder is.
    void Remove(const std::string& path) override;
    // MoveFileExW with write-through and without replacing.
    void Rename(const std::string& from, const std::string& to) override;
    std::vector<std::string> List(const std::string& folder) override;
};

}  // namespace vexa::windows
