// The archive on SQLite, the embedded engine of the Linux command. The add-in opens an existing
// archive file only, through SqliteArchiveEngine; the installation step (`vexa init`) creates the
// file once with CreateSqliteArchive, and a missing file is a start-up failure.
#pragma once

#include <memory>
#include <string>

#include "archive/archive_engine.h"

namespace vexa {

class SqliteArchiveEngine final : public ArchiveEngine {
public:
    std::unique_ptr<ArchiveConnection> Open(const std::string& path) override;
};

// Creates an empty archive at `path` with its two tables, recv and send. Fails with HostError
// when anything already exists at `path`, and leaves it untouched. The file appears under its
// name only once complete; on failure nothing is left behind.
void CreateSqliteArchive(const std::string& path);

}  // namespace vexa
