// The archive on a PostgreSQL server, for an office whose several Vexa installations write to one
// archive at the same moment. Row numbers come from identity columns, so every writer gets numbers
// of its own and a number whose row was rolled back stays used up; stored attachment files live
// in the database beside their rows (table stored_files, the bytes as a large object), written in
// the same transaction. The installation step creates the tables with CreatePostgresArchive; the
// add-in then opens connections through PostgresArchiveEngine. Every failure is a HostError
// (postgres::PgError, with the SQLSTATE).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_engine.h"

namespace vexa::postgres {

class Session;

class PostgresArchiveEngine final : public ArchiveEngine {
public:
    // `uri`: any libpq connection string, e.g. postgresql://ann@db.example.org/faxes; the password
    // comes from ~/.pgpass or $PGPASSFILE as libpq finds it.
    explicit PostgresArchiveEngine(std::string uri);
    // `path` is what the add-in asks for on an embedded engine; the archive is the server's, so it
    // is ignored. Each call is a connection of its own.
    std::unique_ptr<ArchiveConnection> Open(const std::string& path) override;

    // Group commit, for archiving many messages in a row: from BeginGroup to CommitGroup the
    // connections this engine opened keep the stores of the group in one transaction of the
    // server (each store's own a savepoint in it, so a store still commits or fails whole), and
    // CommitGroup commits them together: one synced commit instead of one per store. A commit
    // whose connection dropped is read back as a store's is; AbortGroup takes back the group.
    void BeginGroup();
    void CommitGroup();
    void AbortGroup() noexcept;

private:
    std::string uri_;
    std::vector<std::weak_ptr<Session>> opened_;
    bool layoutChecked_ = false;  // an archive made before read state per person is brought up to date once
};

// Why `uri` cannot name an archive: libpq cannot read it, or it holds a password, which would
// stand in the shell's history, in every process list and in the installation's record (it
// belongs in ~/.pgpass or the file $PGPASSFILE names). Nothing when it can. Read by libpq's own
// parser, so that every form libpq takes (URI, its query parameters, "key = value" words) is
// checked as libpq will read it.
std::optional<std::string> ArchiveAddressProblem(const std::string& uri);

// Creates what is missing of the archive on the server at `uri`: the tables recv, send and
// stored_files, their indexes, and the notification a viewer waits for. An archive already there
// is kept as it is; two installations creating at once do not collide.
void CreatePostgresArchive(const std::string& uri);

// Fails with HostError, saying why, unless the database at `uri` holds an archive of ours: the
// tables recv and send with every column the store procedures write. Only reads.
void CheckPostgresArchive(const std::string& uri);

// Stores the local file at `path` as the attachment file `fileId` (e.g. "R0000042.tif") in the
// transaction open on `connection` (one of PostgresArchiveEngine's), so the file is there exactly
// when its row is; read and written 1 MiB at a time, whatever the file's size. A second file
// under the same id fails.
void StoreFile(ArchiveConnection& connection, const std::string& fileId, const std::string& path);

// Passes the bytes of the stored file `fileId` to `sink` piece by piece, 1 MiB at most each;
// false when there is no such file. Runs in a transaction of its own on `connection`, which must
// have none open.
bool ReadStoredFile(ArchiveConnection& connection, const std::string& fileId,
                    const std::function<void(std::string_view)>& sink);

}  // namespace vexa::postgres
