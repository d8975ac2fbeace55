// The attachment files on Linux: existence, fsync before the row is committed, removal.
#pragma once

#include "archive/file_store.h"

namespace vexa {

class PosixFileStore final : public FileStore {
public:
    bool Exists(const std::string& path) override;
    // fsyncs the file and its folder, so a committed row never points at a lost file.
    void Flush(const std::string& path) override;
    void Remove(const std::string& path) override;
};

}  // namespace vexa
