// The attachment files on Linux: existence, fsync before the row is committed, renaming without
// replacing, removal, listing.
#pragma once

#include "archive/file_store.h"

namespace vexa::posix {

class PosixFileStore final : public FileStore {
public:
    bool Exists(const std::string& path) override;
    // Makes the file readable and writable by its owner only, then fsyncs it and its folder, so a
    // committed row never points at a lost file nor one that others can read.
    void Flush(const std::string& path) override;
    void Remove(const std::string& path) override;
    // renameat2 with RENAME_NOREPLACE (link and unlink where the file system lacks it). The new
    // name is not synced: the pending name it replaces is, and start-up names it again after a crash.
    void Rename(const std::string& from, const std::string& to) override;
    std::vector<std::string> List(const std::string& folder) override;
};

}  // namespace vexa::posix
