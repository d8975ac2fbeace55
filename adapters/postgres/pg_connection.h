// One libpq connection to the archive server, owned for its whole life: statements with "?"
// placeholders bound as text, results owned until dropped, and the server's refusals turned into
// PgError carrying libpq's message and the SQLSTATE. Internal to the PostgreSQL adapter.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_engine.h"
#include "host/host_error.h"

namespace vexa::postgres {

// A failure the server or libpq reported. Number() is the SQLSTATE read as a base-36 number, so
// it stays one integer for the handlers while SqlState() keeps the five characters.
class PgError : public HostError {
public:
    PgError(std::string sqlState, std::string description);
    const std::string& SqlState() const noexcept { return sqlState_; }
    // The connection itself is gone (SQLSTATE class 08): reconnecting may help.
    bool ConnectionLost() const noexcept { return sqlState_.starts_with("08"); }
    // The server gave up the statement to let another writer go on: running it again may succeed.
    bool Retryable() const noexcept { return sqlState_ == "40001" || sqlState_ == "40P01"; }

private:
    std::string sqlState_;
};

// SQLSTATE for failures found on this side, before the server saw anything.
inline constexpr const char* kStateLost = "08006";          // connection_failure
inline constexpr const char* kStateCannotConnect = "08001"; // sqlclient_unable_to_establish_sqlconnection
inline constexpr const char* kStateUnknownOutcome = "08007"; // transaction_resolution_unknown
inline constexpr const char* kStateMisuse = "55000";        // object_not_in_prerequisite_state
inline constexpr const char* kStateSyntax = "42601";        // syntax_error
inline constexpr const char* kStateUndefinedTable = "42P01";
inline constexpr const char* kStateUndefinedColumn = "42703";
inline constexpr const char* kStateNoData = "02000";

struct ClearResult {
    void operator()(PGresult* result) const noexcept { PQclear(result); }
};

// The rows a statement returned, as text; NULL reads as empty.
class PgResult {
public:
    explicit PgResult(PGresult* result) : result_(result) {}
    int Rows() const { return PQntuples(result_.get()); }
    std::string Text(int row, int column) const;
    bool IsNull(int row, int column) const { return PQgetisnull(result_.get(), row, column) != 0; }
    // The rows an INSERT, UPDATE, DELETE or MERGE changed; 0 for any other statement.
    std::int32_t Changed() const;
    PGresult* Raw() const noexcept { return result_.get(); }

private:
    std::unique_ptr<PGresult, ClearResult> result_;
};

// The statement with its "?" placeholders numbered as PostgreSQL wants them ($1, $2, ...); a "?"
// inside a quoted literal, a quoted name or a comment stays as it is. `count` receives how many.
std::string NumberPlaceholders(std::string_view sql, int& count);

// A value as the server reads it in text form; nullopt for NULL. A date is 'YYYY-MM-DD HH:MM:SS'.
std::optional<std::string> ParameterText(const FieldValue& value);

class PgConnection {
public:
    // Connects to `uri` (any libpq connection string or URI). libpq itself finds the password in
    // ~/.pgpass or $PGPASSFILE, so it never has to appear on a command line.
    explicit PgConnection(std::string uri);

    // Runs one statement with `parameters` bound to its "$n" placeholders. A statement the server
    // refuses, or a lost connection, throws PgError.
    PgResult Exec(const std::string& sql, const std::vector<FieldValue>& parameters = {});
    // The same with "?" placeholders, whose count must match the parameters'.
    PgResult ExecWithMarks(const std::string& sql, const std::vector<FieldValue>& parameters);
    // Runs `before` (no parameters), `sql` and `after` in one round trip (libpq's pipeline mode)
    // and returns what `sql` gave: a savepoint around a statement costs no waiting. When one
    // fails, the ones after it do not run, and its PgError is thrown.
    PgResult ExecBetween(const std::string& before, const std::string& sql, const std::vector<FieldValue>& parameters,
                         const std::string& after);

    bool Lost() const { return !conn_ || PQstatus(conn_.get()) == CONNECTION_BAD; }
    // Connects again after the connection dropped, waiting a little longer after each failure
    // (a server restarting, a network hiccup); throws PgError when the server stays away.
    void Reconnect();
    // Ends the connection; later calls fail with "The archive connection is closed.".
    void Close() noexcept { conn_.reset(); }
    bool Closed() const noexcept { return !conn_; }

    PGconn* Get();

private:
    struct Finish {
        void operator()(PGconn* conn) const noexcept { PQfinish(conn); }
    };
    void Prepare();
    // The failure `result` reports, if it is one.
    std::optional<PgError> FailureOf(const PgResult& result);

    // The name of `sql` prepared on this connection, prepared now on its first use; "" for a
    // statement that cannot be prepared (anything but a query or a change of rows).
    std::string Prepared(const std::string& sql, int parameters);

    std::string uri_;
    std::string person_;  // ArchivePerson() when connected, kept for every reconnection
    std::unique_ptr<PGconn, Finish> conn_;
    // The statements prepared on the server for this connection, by their text: each is parsed
    // and planned once, not once per fax.
    std::map<std::string, std::string> prepared_;
};

// Waits the backoff of retry `attempt` (0, 1, ...): 50 ms doubling, at most 2 s.
void Backoff(int attempt);

}  // namespace vexa::postgres
