#include "adapters/sqlite/sqlite_archive.h"

#include <sqlite3.h>

#include "host/host_error.h"

namespace vexa {
namespace {

struct CloseDatabase {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using DatabaseHandle = std::unique_ptr<sqlite3, CloseDatabase>;

// SQLite's own description of a failure, with the file it concerns.
HostError SqliteError(sqlite3* db, int code, const std::string& path) {
    const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    return HostError(code, std::string(message) + ": " + path);
}

void Execute(sqlite3* db, const char* sql, const std::string& path) {
    const int code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) throw SqliteError(db, code, path);
}

class SqliteConnection final : public ArchiveConnection {
public:
    SqliteConnection(DatabaseHandle db, std::string path) : db_(std::move(db)), path_(std::move(path)) {}

    void Close() override {
        if (!db_) throw HostError(SQLITE_MISUSE, "The archive connection is closed.");
        const int code = sqlite3_close(db_.get());
        if (code != SQLITE_OK) throw SqliteError(db_.get(), code, path_);
        db_.release();
    }

private:
    DatabaseHandle db_;
    std::string path_;
};

}  // namespace

std::unique_ptr<ArchiveConnection> SqliteArchiveEngine::Open(const std::string& path) {
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    DatabaseHandle db(raw);
    if (code != SQLITE_OK) throw SqliteError(db.get(), code, path);
    // Reading the schema proves the file is an archive; a mail only leaves the Inbox after its
    // row is committed, so commits must survive a crash or power loss.
    Execute(db.get(), "SELECT count(*) FROM sqlite_schema", path);
    Execute(db.get(), "PRAGMA journal_mode=WAL", path);
    Execute(db.get(), "PRAGMA synchronous=FULL", path);
    return std::make_unique<SqliteConnection>(std::move(db), path);
}

}  // namespace vexa
