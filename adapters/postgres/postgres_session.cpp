#include "adapters/postgres/postgres_session.h"

namespace vexa::postgres {
namespace {

// Serialization failures and deadlocks clear up once the other writer is through.
constexpr int kRetries = 5;

}  // namespace

PgResult Session::RunOnce(const std::string& sql, const std::vector<FieldValue>& parameters, bool withMarks) {
    return withMarks ? pg_.ExecWithMarks(sql, parameters) : pg_.Exec(sql, parameters);
}

PgResult Session::Run(const std::string& sql, const std::vector<FieldValue>& parameters, bool withMarks,
                      bool repeatable) {
    if (pg_.Closed()) pg_.Get();  // throws the closed connection's error
    // Between the stores of a group the group's transaction is open: a statement must not go to
    // a fresh connection then, where it would run outside the group.
    if (!inTransaction_ && !groupOpen_) {
        for (int attempt = 0;; ++attempt) {
            if (pg_.Lost()) pg_.Reconnect();
            try {
                return RunOnce(sql, parameters, withMarks);
            } catch (const PgError& e) {
                const bool again = e.Retryable() || (e.ConnectionLost() && repeatable);
                if (!again || attempt + 1 >= kRetries) throw;
                Backoff(attempt);
            }
        }
    }
    if (pg_.Lost()) throw PgError(kStateLost, "The connection to the archive server was lost; the transaction is gone.");
    int marks = 0;
    const std::string numbered = withMarks ? NumberPlaceholders(sql, marks) : sql;
    // Refused before anything reaches the server, as outside a transaction.
    if (withMarks && marks != static_cast<int>(parameters.size())) return pg_.ExecWithMarks(sql, parameters);
    for (int attempt = 0;; ++attempt) {
        try {
            // The savepoint, the statement and the release go to the server together.
            if (attempt == 0) {
                return pg_.ExecBetween("SAVEPOINT vexa_statement", numbered, parameters, "RELEASE SAVEPOINT vexa_statement");
            }
            PgResult result = RunOnce(sql, parameters, withMarks);
            pg_.Exec("RELEASE SAVEPOINT vexa_statement");
            return result;
        } catch (const PgError& e) {
            if (e.ConnectionLost()) throw;
            pg_.Exec("ROLLBACK TO SAVEPOINT vexa_statement");
            if (!e.Retryable() || attempt + 1 >= kRetries) {
                pg_.Exec("RELEASE SAVEPOINT vexa_statement");
                throw;
            }
            Backoff(attempt);
        }
    }
}

void Session::Begin() {
    pg_.Get();
    if (inTransaction_) throw PgError(kStateMisuse, "A transaction is open already.");
    if (grouped_) {
        // The group's transaction opens with its first store; each store is a savepoint in it.
        if (!groupOpen_) {
            Run("BEGIN", {}, false, true);
            groupOpen_ = true;
            firstInsert_.reset();
        }
        pg_.Exec("SAVEPOINT vexa_store");
        inTransaction_ = true;
        beforeStore_ = firstInsert_;
        return;
    }
    Run("BEGIN", {}, false, true);
    inTransaction_ = true;
    firstInsert_.reset();
}

void Session::BeginGroup() {
    if (inTransaction_ || groupOpen_) throw PgError(kStateMisuse, "A transaction is open already.");
    grouped_ = true;
}

void Session::CommitGroup() {
    grouped_ = false;
    if (!groupOpen_) return;
    if (inTransaction_) throw PgError(kStateMisuse, "A store of the group is still open.");
    groupOpen_ = false;
    CommitOpenTransaction();
}

void Session::AbortGroup() noexcept {
    grouped_ = false;
    if (!groupOpen_) return;
    groupOpen_ = false;
    inTransaction_ = false;
    if (pg_.Lost()) return;
    try {
        pg_.Exec("ROLLBACK");
    } catch (const PgError&) {
        // A connection that dropped meanwhile took the group with it.
    }
}

void Session::Inserted(const std::string& table, std::int64_t id) {
    if (inTransaction_ && !firstInsert_) firstInsert_.emplace(table, id);
}

void Session::Commit() {
    pg_.Get();
    if (!inTransaction_) throw PgError(kStateMisuse, "There is no transaction to commit.");
    inTransaction_ = false;
    if (groupOpen_) {
        pg_.Exec("RELEASE SAVEPOINT vexa_store");
        return;
    }
    CommitOpenTransaction();
}

void Session::CommitOpenTransaction() {
    try {
        pg_.Exec("COMMIT");
        return;
    } catch (const PgError& e) {
        if (!e.ConnectionLost()) throw;
    }
    constexpr const char* kUnknown =
        "The connection to the archive server was lost during the commit; whether it was stored is unknown.";
    if (!firstInsert_) throw PgError(kStateUnknownOutcome, kUnknown);
    const auto& [table, id] = *firstInsert_;
    bool stored = false;
    try {
        pg_.Reconnect();
        stored = pg_.Exec("SELECT 1 FROM \"" + table + "\" WHERE id = $1", {id}).Rows() > 0;
    } catch (const PgError&) {
        // The server is still out of reach: the row decides later, when it can be read.
        throw PgError(kStateUnknownOutcome, kUnknown);
    }
    if (stored) return;
    throw PgError(kStateLost, "The connection to the archive server was lost before the commit; nothing was stored.");
}

void Session::Rollback() {
    pg_.Get();
    if (!inTransaction_) throw PgError(kStateMisuse, "There is no transaction to roll back.");
    inTransaction_ = false;
    if (pg_.Lost()) return;  // the server rolled it back when the connection dropped
    if (groupOpen_) {
        // This store alone is taken back; the group's other stores stay.
        firstInsert_ = beforeStore_;
        try {
            pg_.Exec("ROLLBACK TO SAVEPOINT vexa_store");
            pg_.Exec("RELEASE SAVEPOINT vexa_store");
        } catch (const PgError& e) {
            if (!e.ConnectionLost()) throw;
        }
        return;
    }
    try {
        pg_.Exec("ROLLBACK");
    } catch (const PgError& e) {
        if (!e.ConnectionLost()) throw;
    }
}

void Session::Close() {
    pg_.Get();
    AbortGroup();
    if (inTransaction_) {
        try {
            Rollback();
        } catch (const PgError&) {
            // Ending the connection rolls back on the server all the same.
        }
    }
    pg_.Close();
}

}  // namespace vexa::postgres
