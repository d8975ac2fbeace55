// The archive on SQLite, the embedded engine of the Linux command. Opens an existing archive
// file only: an installation creates the file once, and a missing file is a start-up failure.
#pragma once

#include <memory>
#include <string>

#include "archive/archive_engine.h"

namespace vexa {

class SqliteArchiveEngine final : public ArchiveEngine {
public:
    std::unique_ptr<ArchiveConnection> Open(const std::string& path) override;
};

}  // namespace vexa
