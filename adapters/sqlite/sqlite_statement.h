// SQLite handles owned for their whole life, the archive's FieldValue binding, and SQLite failures
// turned into HostError. Internal to the SQLite adapter: the archive engine and the installer step
// that creates an archive use it; nothing outside adapters/sqlite includes it.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
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

// One prepared statement, finalized when it goes out of scope.
class SqliteStatement {
public:
    // Prepares the single statement in `sql`. Anything after it other than blanks, comments and
    // semicolons fails, so no second statement can ride along behind a ';'.
    SqliteStatement(sqlite3* db, std::string_view sql);

    // Binds `values` to the "?" placeholders in order; the counts must match.
    void BindAll(const std::vector<FieldValue>& values);

    // True while the statement returns rows, false once it has finished.
    bool Step();
    // Steps to the end, passing over any rows.
    void Run();

    // A column of the current row as text; NULL reads as empty.
    std::string Text(int column) const;

private:
    struct Finalize {
        void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
    };

    sqlite3* db_;
    std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

// Runs the adapter's own fixed SQL while opening or creating an archive; a failure names `path`,
// because it concerns the archive file as a whole.
void ExecuteOnFile(sqlite3* db, const char* sql, const std::string& path);

// Adds the indexes that list both tables, and the received faxes still New, newest first, when missing (an archive made before them
// works without, only slower); an archive that cannot take them now is left as it is.
void EnsureListIndexes(sqlite3* db) noexcept;

}  // namespace vexa::sqlite
