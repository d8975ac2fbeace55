// SQLite handles owned for their whole life, the archive's FieldValue binding, and SQLite failures
// turned into HostError. Internal to the SQLite adapter: the archive engine and the installer step
// that creates an archive use it; nothing outside adapters/sqlite includes it.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive/archive_engine.h"
#include "host/host_error.h"

namespace vexa::sqlite {

struct CloseDatabase {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using DatabaseHandle = std::unique_ptr<sqlite3, CloseDatabase>;

// SQLite's own description of the failure a statement just had.
HostError SqliteError(sqlite3* db, int code);
// The same for a failure that concerns a whole file, naming the file after a colon.
HostError SqliteFileError(sqlite3* db, int code, const std::string& path);

// How the archive stores a date: ISO 8601 local time text, which sorts and compares as dates do.
std::string FormatArchiveDate(const LocalDateTime& value);

struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using StatementHandle = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// The statements a connection runs again and again, kept prepared between runs: a scan runs the
// same few for every fax (the savepoint, the INSERT, the UPDATE), and parsing them each time cost
// about as much as running them. Must be cleared before its database is closed.
class StatementCache {
public:
    explicit StatementCache(sqlite3* db) : db_(db) {}
    StatementCache(const StatementCache&) = delete;
    StatementCache& operator=(const StatementCache&) = delete;

    void Clear() noexcept { kept_.clear(); }

private:
    friend class SqliteStatement;
    sqlite3* db_;
    std::unordered_map<std::string, StatementHandle> kept_;
};

// One prepared statement, finalized when it goes out of scope (or, when it came from a cache,
// reset and handed back to it).
class SqliteStatement {
public:
    // Prepares the single statement in `sql`. Anything after it other than blanks, comments and
    // semicolons fails, so no second statement can ride along behind a ';'.
    SqliteStatement(sqlite3* db, std::string_view sql);
    // The same, taken from `cache` when it holds `sql` prepared; it goes back there afterwards.
    // A statement in use is out of the cache, so the same text may be run again meanwhile.
    SqliteStatement(StatementCache& cache, std::string_view sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // Binds `values` to the "?" placeholders in order; the counts must match.
    void BindAll(const std::vector<FieldValue>& values);

    // True while the statement returns rows, false once it has finished.
    bool Step();
    // Steps to the end, passing over any rows.
    void Run();

    // A column of the current row as text; NULL reads as empty.
    std::string Text(int column) const;

private:
    sqlite3* db_;
    StatementHandle statement_;
    StatementCache* cache_ = nullptr;
    std::string sql_;  // the cache's key, for a statement from a cache
};

// Runs the adapter's own fixed SQL while opening or creating an archive; a failure names `path`,
// because it concerns the archive file as a whole.
void ExecuteOnFile(sqlite3* db, const char* sql, const std::string& path);

// Adds the indexes the lists are read through (each order of both tables, and the received
// faxes still New by date) when missing: an archive made before them works without, only
// slower; an archive that cannot take them now is left as it is.
void EnsureListIndexes(sqlite3* db) noexcept;

}  // namespace vexa::sqlite
