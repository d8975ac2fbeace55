// The archive on SQLite, the embedded engine of the Linux command. The add-in opens an existing
// archive file only, through SqliteArchiveEngine; the installation step (`vexa init`) creates the
// file once with CreateSqliteArchive, and a missing file is a start-up failure. The archive file,
// and the log files SQLite keeps beside it, are private to the user.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "archive/archive_engine.h"

namespace vexa::sqlite {

class Database;

class SqliteArchiveEngine final : public ArchiveEngine {
public:
    SqliteArchiveEngine();
    ~SqliteArchiveEngine() override;
    std::unique_ptr<ArchiveConnection> Open(const std::string& path) override;

    // Group commit, for archiving many messages in a row: from BeginGroup to CommitGroup the
    // connections this engine opened keep every store's rows in one transaction (each store's
    // own transaction becomes a savepoint in it, so a store still commits or rolls back whole),
    // and CommitGroup makes them durable together with one sync instead of one per store.
    // AbortGroup takes back every store of the group. Throw HostError as the engine reports.
    void BeginGroup();
    void CommitGroup();
    void AbortGroup() noexcept;

private:
    std::vector<std::weak_ptr<Database>> opened_;
};

// Creates an empty archive at `path` with its two tables, recv and send. Fails with HostError
// when anything already exists at `path`, and leaves it untouched. The file appears under its
// name only once complete; on failure nothing is left behind. The file is readable and writable
// by its owner only, whatever the umask; SQLite gives its -wal and -shm files the same access.
void CreateSqliteArchive(const std::string& path);

// Fails with HostError, saying why, unless the file at `path` is an archive of ours: an SQLite
// database with the tables recv and send and every column the store procedures write. Only
// reads: whatever the file is, it is left as it was.
void CheckSqliteArchive(const std::string& path);

}  // namespace vexa::sqlite
