#include "adapters/sqlite/sqlite_archive.h"

#include <sqlite3.h>

#include <map>
#include <utility>

#include "adapters/sqlite/sqlite_statement.h"
#include "archive/sql_recordset.h"
#include "host/host_error.h"

namespace vexa::sqlite {
namespace {

// A viewer may hold the archive open; a writer waits this long for it before giving up.
constexpr int kBusyTimeoutMs = 5000;

HostError ConnectionClosed() { return HostError(SQLITE_MISUSE, "The archive connection is closed."); }

// The row counters of the AUTOINCREMENT tables (sqlite_sequence), by table name; empty when no
// table has one.
using Counters = std::map<std::string, std::int64_t>;

Counters ReadCounters(StatementCache& statements) {
    Counters counters;
    SqliteStatement exists(statements, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = 'sqlite_sequence'");
    if (!exists.Step()) return counters;
    SqliteStatement read(statements, "SELECT name, coalesce(seq, 0) FROM sqlite_sequence");
    while (read.Step()) counters[read.Text(0)] = std::stoll(read.Text(1));
    return counters;
}

// Raises each counter to at least the given value, in the transaction that is open.
void WriteCounters(sqlite3* db, const Counters& counters) {
    for (const auto& [table, seq] : counters) {
        SqliteStatement insert(db,
                               "INSERT INTO sqlite_sequence (name, seq) SELECT ?1, ?2 "
                               "WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = ?1)");
        insert.BindAll({table, seq});
        insert.Run();
        SqliteStatement raise(db, "UPDATE sqlite_sequence SET seq = ?2 WHERE name = ?1 AND seq < ?2");
        raise.BindAll({table, seq});
        raise.Run();
    }
}

// Raises each counter to at least the given value, in a transaction of its own.
void RaiseCounters(sqlite3* db, const Counters& counters) {
    SqliteStatement(db, "BEGIN IMMEDIATE").Run();
    try {
        WriteCounters(db, counters);
        SqliteStatement(db, "COMMIT").Run();
    } catch (...) {
        if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

}  // namespace

// The open database, shared by the connection and the recordsets it opened so that a recordset
// used after Close fails instead of reaching a closed handle.
class Database {
public:
    Database(DatabaseHandle db, std::string path)
        : db_(std::move(db)), path_(std::move(path)), statements_(db_.get()) {}

    sqlite3* Get() const {
        if (!db_) throw ConnectionClosed();
        return db_.get();
    }
    StatementCache& Statements() {
        Get();
        return statements_;
    }

    // IMMEDIATE takes the write lock at once, so a store fails at its start rather than half-way
    // when another process is writing. Inside a group a store's transaction is a savepoint of
    // the group's: its rollback takes back that store alone, its commit waits for the group's.
    void Begin() {
        StatementCache& statements = Statements();
        if (grouped_ && inTransaction_) throw HostError(SQLITE_MISUSE, "A transaction is open already.");
        SqliteStatement(statements, grouped_ ? "SAVEPOINT store" : "BEGIN IMMEDIATE").Run();
        try {
            countersAtBegin_ = ReadCounters(statements);
        } catch (...) {
            EndStore();
            throw;
        }
        inTransaction_ = true;
    }

    void Commit() {
        if (grouped_ && !inTransaction_) throw HostError(SQLITE_MISUSE, "There is no transaction to commit.");
        SqliteStatement(Statements(), grouped_ ? "RELEASE store" : "COMMIT").Run();
        inTransaction_ = false;
    }

    // Group commit: one transaction holds the rows of many stores, and one sync makes them all
    // durable. Nothing of the group is visible to others or on disk before CommitGroup.
    void BeginGroup() {
        sqlite3* db = Get();
        if (grouped_ || !sqlite3_get_autocommit(db)) throw HostError(SQLITE_MISUSE, "A transaction is open already.");
        SqliteStatement(db, "BEGIN IMMEDIATE").Run();
        grouped_ = true;
    }
    void CommitGroup() {
        if (!grouped_) return;
        if (inTransaction_) Rollback();
        SqliteStatement(Get(), "COMMIT").Run();
        grouped_ = false;
    }
    void AbortGroup() noexcept {
        if (!grouped_ || !db_) return;
        grouped_ = inTransaction_ = false;
        sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }

    // Rolls back everything but the row numbers handed out meanwhile: as with Jet, a number
    // whose row was refused (its file name taken by a stale file, say) is used up, so the next
    // attempt gets the next number instead of failing over the same one for good. The counters
    // are raised in a commit of their own after the rollback; a crash in between leaves the
    // number free, and the next refusal uses it up.
    void Rollback() {
        sqlite3* db = Get();
        Counters raised;
        if (!sqlite3_get_autocommit(db)) {
            for (const auto& [table, seq] : ReadCounters(statements_)) {
                const auto before = countersAtBegin_.find(table);
                if (before == countersAtBegin_.end() || before->second < seq) raised[table] = seq;
            }
        }
        if (grouped_) {
            if (!inTransaction_) throw HostError(SQLITE_MISUSE, "There is no transaction to roll back.");
            EndStore();
            // The group's transaction holds the raised counters; a crash before its commit leaves
            // the numbers free, as a crash between the two steps below does.
            if (!raised.empty()) WriteCounters(db, raised);
            return;
        }
        inTransaction_ = false;
        SqliteStatement(db, "ROLLBACK").Run();
        if (!raised.empty()) RaiseCounters(db, raised);
    }

    void Close() {
        sqlite3* db = Get();
        if (grouped_) AbortGroup();
        if (!sqlite3_get_autocommit(db)) Rollback();
        // sqlite3_close refuses a database with statements still prepared.
        statements_.Clear();
        const int code = sqlite3_close(db);
        if (code != SQLITE_OK) throw SqliteFileError(db, code, path_);
        // sqlite3_close has already freed the handle; only ownership is left to drop.
        static_cast<void>(db_.release());
    }

private:
    // Rolls back the store's own transaction, or its savepoint (released as well) in a group.
    void EndStore() noexcept {
        inTransaction_ = false;
        sqlite3_exec(db_.get(), grouped_ ? "ROLLBACK TO store" : "ROLLBACK", nullptr, nullptr, nullptr);
        if (grouped_) sqlite3_exec(db_.get(), "RELEASE store", nullptr, nullptr, nullptr);
    }

    DatabaseHandle db_;
    std::string path_;
    StatementCache statements_;  // after db_: finalized before it is closed
    Counters countersAtBegin_;
    bool grouped_ = false;
    bool inTransaction_ = false;
};

namespace {

// SQLite's own numbers for a recordset's misuse, in the order of SqlRecordset::Failure: an unknown
// column is an error of the statement, then misuse, then a row not found.
constexpr int kRecordsetFailureCodes[] = {SQLITE_ERROR, SQLITE_MISUSE, SQLITE_NOTFOUND};

class SqliteRecordset final : public SqlRecordset {
public:
    SqliteRecordset(std::shared_ptr<Database> database, std::string table, std::vector<std::string> columns)
        : SqlRecordset(std::move(table), std::move(columns)), database_(std::move(database)) {}

private:
    // Runs one statement of the recordset and returns the handle, for its Id or count of rows.
    sqlite3* Run(const std::string& sql, const std::vector<FieldValue>& values) {
        SqliteStatement statement(database_->Statements(), sql);
        statement.BindAll(values);
        statement.Run();
        return database_->Get();
    }

    std::int64_t RunInsert(const std::string& sql, const std::vector<FieldValue>& values) override {
        return sqlite3_last_insert_rowid(Run(sql, values));
    }
    std::int64_t RunUpdate(const std::string& sql, const std::vector<FieldValue>& values) override {
        return sqlite3_changes(Run(sql, values));
    }

    [[noreturn]] void Fail(Failure failure, const std::string& description) const override {
        throw HostError(kRecordsetFailureCodes[static_cast<int>(failure)], description);
    }

    std::shared_ptr<Database> database_;
};

class SqliteConnection final : public ArchiveConnection {
public:
    explicit SqliteConnection(std::shared_ptr<Database> database) : database_(std::move(database)) {}

    std::unique_ptr<ArchiveRecordset> OpenTable(const std::string& table) override {
        // SQLite matches table names regardless of case; the recordset keeps the schema's spelling.
        SqliteStatement lookup(database_->Statements(),
                               "SELECT name FROM sqlite_schema WHERE type = 'table' AND name = ? COLLATE NOCASE");
        lookup.BindAll({table});
        if (!lookup.Step()) throw HostError(SQLITE_ERROR, "no such table: " + table);
        std::string name = lookup.Text(0);

        SqliteStatement info(database_->Statements(), "SELECT name FROM pragma_table_info(?)");
        info.BindAll({name});
        std::vector<std::string> columns;
        while (info.Step()) columns.push_back(info.Text(0));
        return std::make_unique<SqliteRecordset>(database_, std::move(name), std::move(columns));
    }

    std::int32_t Execute(const std::string& statement, const std::vector<FieldValue>& parameters) override {
        sqlite3* db = database_->Get();
        SqliteStatement prepared(database_->Statements(), statement);
        prepared.BindAll(parameters);
        const sqlite3_int64 before = sqlite3_total_changes64(db);
        prepared.Run();
        // sqlite3_changes keeps the count of the last INSERT, UPDATE or DELETE, so a SELECT or a
        // CREATE after an UPDATE would report the UPDATE's rows; only a statement that changed
        // something has a count of its own.
        if (sqlite3_total_changes64(db) == before) return 0;
        return static_cast<std::int32_t>(sqlite3_changes(db));
    }

    void BeginTrans() override { database_->Begin(); }
    void CommitTrans() override { database_->Commit(); }
    void RollbackTrans() override { database_->Rollback(); }
    // Rolls back a transaction still open, then closes the file; the recordsets fail from then on.
    void Close() override { database_->Close(); }

private:
    std::shared_ptr<Database> database_;
};

}  // namespace

SqliteArchiveEngine::SqliteArchiveEngine() = default;
SqliteArchiveEngine::~SqliteArchiveEngine() = default;

std::unique_ptr<ArchiveConnection> SqliteArchiveEngine::Open(const std::string& path) {
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    DatabaseHandle db(raw);
    if (code != SQLITE_OK) throw SqliteFileError(db.get(), code, path);
    sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
    // Reading the schema proves the file is an archive; a mail only leaves the Inbox after its
    // row is committed, so commits must survive a crash or power loss.
    ExecuteOnFile(db.get(), "SELECT count(*) FROM sqlite_schema", path);
    ExecuteOnFile(db.get(), "PRAGMA journal_mode=WAL", path);
    ExecuteOnFile(db.get(), "PRAGMA synchronous=FULL", path);
    EnsureListIndexes(db.get());
    auto database = std::make_shared<Database>(std::move(db), path);
    std::erase_if(opened_, [](const std::weak_ptr<Database>& open) { return open.expired(); });
    opened_.push_back(database);
    return std::make_unique<SqliteConnection>(std::move(database));
}

namespace {

// Each open connection in turn; the add-in holds one.
template <typename Action>
void ForEachOpen(std::vector<std::weak_ptr<Database>>& opened, Action action) {
    for (const auto& weak : opened) {
        if (const auto database = weak.lock()) action(*database);
    }
}

}  // namespace

void SqliteArchiveEngine::BeginGroup() {
    ForEachOpen(opened_, [](Database& database) { database.BeginGroup(); });
}

void SqliteArchiveEngine::CommitGroup() {
    ForEachOpen(opened_, [](Database& database) { database.CommitGroup(); });
}

void SqliteArchiveEngine::AbortGroup() noexcept {
    ForEachOpen(opened_, [](Database& database) { database.AbortGroup(); });
}

}  // namespace vexa::sqlite
