// One connection of the PostgreSQL archive engine with its transaction state, shared by the
// ArchiveConnection and the recordsets it opened so that a recordset used after Close fails
// instead of reaching a closed connection. Internal to the PostgreSQL adapter.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <optional>
#include <string>
#include <vector>

#include "adapters/postgres/pg_connection.h"

namespace vexa::postgres {

class Session {
public:
    explicit Session(std::string uri) : pg_(std::move(uri)) {}

    // Runs one statement. Outside a transaction a refused statement changes nothing; inside one it
    // is undone alone (a savepoint around it), so the transaction goes on as on an embedded
    // engine and the caller may correct a value and try again. A statement the server gave up
    // for another writer's sake (serialization failure, deadlock) runs again after a backoff.
    // `repeatable`: the statement may also run again on a fresh connection when the connection
    // was found dropped (it only reads, or nothing is open yet).
    PgResult Run(const std::string& sql, const std::vector<FieldValue>& parameters, bool withMarks,
                 bool repeatable = false);

    void Begin();
    // When the connection drops during COMMIT, the outcome is read back on a new connection: the
    // first row this transaction inserted is there or not.
    void Commit();
    void Rollback();
    void Close();

    // Group commit: from BeginGroup on, the transactions Begin opens are savepoints in one
    // transaction of the group, opened with the first of them; Commit releases its savepoint and
    // Rollback takes back that store alone. CommitGroup commits them together (one synced commit
    // on the server instead of one per store), reading the outcome back as Commit does;
    // AbortGroup rolls every store of the group back. A connection lost in the group fails every
    // statement until then, never reaches the server again unnoticed.
    void BeginGroup();
    void CommitGroup();
    void AbortGroup() noexcept;

    bool InTransaction() const noexcept { return inTransaction_; }
    // Called by a recordset for each row it inserted: what Commit checks after a dropped connection.
    void Inserted(const std::string& table, std::int64_t id);
    PgConnection& Connection() { return pg_; }

private:
    PgResult RunOnce(const std::string& sql, const std::vector<FieldValue>& parameters, bool withMarks);
    void CommitOpenTransaction();

    PgConnection pg_;
    bool inTransaction_ = false;
    bool grouped_ = false;    // between BeginGroup and CommitGroup or AbortGroup
    bool groupOpen_ = false;  // the group's transaction is open on the server
    std::optional<std::pair<std::string, std::int64_t>> firstInsert_;
    std::optional<std::pair<std::string, std::int64_t>> beforeStore_;  // firstInsert_ when the store began
};

// The session behind a connection PostgresArchiveEngine opened; HostError for any other connection.
Session& SessionOf(ArchiveConnection& connection);

// Streams the stored file `fileId` to `sink` over `pg`, in a transaction of its own unless
// `inTransaction`; false when there is none.
bool ReadLargeObjectFile(PgConnection& pg, bool inTransaction, const std::string& fileId,
                         const std::function<void(std::string_view)>& sink);

}  // namespace vexa::postgres
