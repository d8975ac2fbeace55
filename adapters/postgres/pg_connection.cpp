#include "adapters/postgres/pg_connection.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "adapters/postgres/archive_person.h"
#include "adapters/postgres/local_time_zone.h"
#include "host/retry_schedule.h"

namespace vexa::postgres {
namespace {

std::int32_t StateNumber(const std::string& state) {
    std::int32_t number = 0;
    for (const char c : state) {
        const int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'Z') ? c - 'A' + 10 : 0;
        number = number * 36 + digit;
    }
    return number;
}

// libpq's messages end in a newline and may span lines; the add-in shows one line.
std::string OneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    std::ranges::replace(text, '\n', ' ');
    return text;
}

// The server is out of reach, out of room or shutting down, or gave way to another writer: the
// same statement may succeed later.
bool TransientState(const std::string& state) {
    for (const char* prefix : {"08", "53", "58", "57P0", "40001", "40P01", "55P03"}) {
        if (state.starts_with(prefix)) return true;
    }
    return false;
}

// A server that answered and refused (a wrong or missing password, an unknown user or database)
// is for the user to mend; anything else (nobody listening, a timeout, a server starting up or
// shutting down) may pass. libpq gives no SQLSTATE for a failed connection: its text tells.
std::string RefusalState(PGconn* conn, const std::string& message) {
    if (PQconnectionNeedsPassword(conn)) return "28P01";
    for (const char* refusal : {"authentication failed", "no pg_hba.conf entry", "does not exist", "no password supplied"}) {
        if (message.find(refusal) != std::string::npos) return "28000";
    }
    return kStateCannotConnect;
}

// The parameters in the server's text form, as libpq takes them: null for NULL.
struct BoundValues {
    explicit BoundValues(const std::vector<FieldValue>& parameters) {
        texts.reserve(parameters.size());
        for (const FieldValue& value : parameters) texts.push_back(ParameterText(value));
        for (const auto& text : texts) values.push_back(text ? text->c_str() : nullptr);
    }
    std::vector<std::optional<std::string>> texts;
    std::vector<const char*> values;
};

PgError ClosedError() { return PgError(kStateMisuse, "The archive connection is closed."); }

}  // namespace

PgError::PgError(std::string sqlState, std::string description)
    : HostError(StateNumber(sqlState), std::move(description), TransientState(sqlState), sqlState == kStateUnknownOutcome),
      sqlState_(std::move(sqlState)) {}

std::string PgResult::Text(int row, int column) const {
    if (PQgetisnull(result_.get(), row, column)) return {};
    return std::string(PQgetvalue(result_.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(result_.get(), row, column)));
}

std::int32_t PgResult::Changed() const {
    const std::string_view status = PQcmdStatus(result_.get());
    for (const char* verb : {"INSERT ", "UPDATE ", "DELETE ", "MERGE "}) {
        if (status.starts_with(verb)) return static_cast<std::int32_t>(std::stol(PQcmdTuples(result_.get())));
    }
    return 0;
}

std::string NumberPlaceholders(std::string_view sql, int& count) {
    std::string out;
    out.reserve(sql.size() + 16);
    count = 0;
    std::size_t i = 0;
    // Copies up to and including the closing `quote`; a doubled quote is one character of the text.
    const auto copyQuoted = [&](char quote) {
        out += sql[i++];
        while (i < sql.size()) {
            const char c = sql[i++];
            out += c;
            if (c == quote) {
                if (i < sql.size() && sql[i] == quote) {
                    out += sql[i++];
                } else {
                    return;
                }
            }
        }
    };
    while (i < sql.size()) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            copyQuoted(c);
        } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
            const std::size_t end = std::min(sql.find('\n', i), sql.size());
            out.append(sql.substr(i, end - i));
            i = end;
        } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
            const std::size_t close = sql.find("*/", i + 2);
            const std::size_t end = close == std::string_view::npos ? sql.size() : close + 2;
            out.append(sql.substr(i, end - i));
            i = end;
        } else if (c == '?') {
            out += '$' + std::to_string(++count);
            ++i;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

std::optional<std::string> ParameterText(const FieldValue& value) {
    struct Visitor {
        std::optional<std::string> operator()(std::monostate) const { return std::nullopt; }
        std::optional<std::string> operator()(const std::string& text) const { return text; }
        std::optional<std::string> operator()(std::int64_t number) const { return std::to_string(number); }
        std::optional<std::string> operator()(bool flag) const { return std::string(flag ? "true" : "false"); }
        std::optional<std::string> operator()(const LocalDateTime& t) const {
            char text[40];
            std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                          t.minute, t.second);
            return std::string(text);
        }
    };
    return std::visit(Visitor{}, value);
}

PgConnection::PgConnection(std::string uri) : uri_(std::move(uri)), person_(ArchivePerson()) {
    conn_.reset(PQconnectdb(uri_.c_str()));
    if (!conn_) throw PgError(kStateCannotConnect, "Can't connect to the archive server: out of memory");
    if (PQstatus(conn_.get()) != CONNECTION_OK) {
        const std::string message = OneLine(PQerrorMessage(conn_.get()));
        throw PgError(RefusalState(conn_.get(), message), "Can't connect to the archive server: " + message);
    }
    Prepare();
}

// The server's notices ("relation exists, skipping") would be stray lines on standard error.
void PgConnection::Prepare() {
    PQsetNoticeProcessor(conn_.get(), [](void*, const char*) {}, nullptr);
    if (PQsetClientEncoding(conn_.get(), "UTF8") != 0) {
        throw PgError(kStateCannotConnect, "Can't use UTF-8 with the archive server: " + OneLine(PQerrorMessage(conn_.get())));
    }
    // Dates are read back in the archive's own form, whatever the server's configuration, and
    // the archive's instants are written and read in this machine's zone; the person at work
    // goes with every statement (who archived a row, whose New is read).
    const std::string zone = LocalTimeZoneName();
    try {
        Exec("SELECT set_config('DateStyle', 'ISO, YMD', false), set_config('TimeZone', $1, false), "
             "set_config('vexa.person', $2, false)",
             {zone.empty() ? std::string("UTC") : zone, person_});
        if (!zone.empty()) return;
    } catch (const PgError& e) {
        if (e.ConnectionLost()) throw;
    }
    // A zone the server does not know by name: this moment's offset from UTC.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    Exec("SELECT set_config('DateStyle', 'ISO, YMD', false), set_config('TimeZone', $1, false), "
         "set_config('vexa.person', $2, false)",
         {FixedOffsetZone(local.tm_gmtoff), person_});
}

PGconn* PgConnection::Get() {
    if (!conn_) throw ClosedError();
    return conn_.get();
}

PgResult PgConnection::Exec(const std::string& sql, const std::vector<FieldValue>& parameters) {
    PGconn* conn = Get();
    const BoundValues bound(parameters);
    const std::vector<const char*>& values = bound.values;

    const std::string name = Prepared(sql, static_cast<int>(values.size()));
    PgResult result(name.empty() ? PQexecParams(conn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                                                nullptr, nullptr, 0)
                                 : PQexecPrepared(conn, name.c_str(), static_cast<int>(values.size()), values.data(),
                                                  nullptr, nullptr, 0));
    if (auto failure = FailureOf(result)) throw std::move(*failure);
    return result;
}

std::string PgConnection::Prepared(const std::string& sql, int parameters) {
    if (const auto known = prepared_.find(sql); known != prepared_.end()) return known->second;
    // Only statements with values bound are worth it, and only these kinds can be prepared.
    std::string verb;
    for (const char c : sql.substr(0, 7)) verb += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool preparable = parameters > 0 && (verb.starts_with("SELECT ") || verb.starts_with("INSERT ") ||
                                               verb.starts_with("UPDATE ") || verb.starts_with("DELETE "));
    if (!preparable || prepared_.size() >= 64) return "";
    const std::string name = "vexa_" + std::to_string(prepared_.size() + 1);
    PGconn* conn = Get();
    // In a transaction a refused statement must not end it: the prepare gets a savepoint.
    const bool inTransaction = PQtransactionStatus(conn) == PQTRANS_INTRANS;
    if (inTransaction) PgResult(PQexec(conn, "SAVEPOINT vexa_prepare"));
    PgResult made(PQprepare(conn, name.c_str(), sql.c_str(), parameters, nullptr));
    const bool failed = FailureOf(made).has_value();
    if (inTransaction) {
        if (failed) PgResult(PQexec(conn, "ROLLBACK TO SAVEPOINT vexa_prepare"));
        PgResult(PQexec(conn, "RELEASE SAVEPOINT vexa_prepare"));
    }
    // A statement the server will not prepare runs unprepared, and fails there if it must.
    if (failed) return "";
    prepared_.emplace(sql, name);
    return name;
}

std::optional<PgError> PgConnection::FailureOf(const PgResult& result) {
    const ExecStatusType status = result.Raw() ? PQresultStatus(result.Raw()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return std::nullopt;
    if (status == PGRES_EMPTY_QUERY) return PgError(kStateSyntax, "the statement is empty");
    const char* state = result.Raw() ? PQresultErrorField(result.Raw(), PG_DIAG_SQLSTATE) : nullptr;
    const char* primary = result.Raw() ? PQresultErrorField(result.Raw(), PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const std::string message = OneLine(primary ? primary : PQerrorMessage(conn_.get()));
    if (Lost() || !state) return PgError(kStateLost, "The connection to the archive server was lost: " + message);
    return PgError(state, message);
}

PgResult PgConnection::ExecBetween(const std::string& before, const std::string& sql,
                                   const std::vector<FieldValue>& parameters, const std::string& after) {
    PGconn* conn = Get();
    // Prepared before the pipeline starts: preparing is a round trip of its own, once.
    const std::string name = Prepared(sql, static_cast<int>(parameters.size()));
    if (PQpipelineStatus(conn) != PQ_PIPELINE_OFF || PQenterPipelineMode(conn) != 1) {
        Exec(before);
        PgResult result = Exec(sql, parameters);
        Exec(after);
        return result;
    }
    const BoundValues bound(parameters);
    const std::vector<const char*>& values = bound.values;
    const bool sent =
        PQsendQueryParams(conn, before.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) == 1 &&
        (name.empty() ? PQsendQueryParams(conn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                                          nullptr, 0)
                      : PQsendQueryPrepared(conn, name.c_str(), static_cast<int>(values.size()), values.data(), nullptr,
                                            nullptr, 0)) == 1 &&
        PQsendQueryParams(conn, after.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) == 1 && PQpipelineSync(conn) == 1;
    std::optional<PgError> failure;
    std::optional<PgResult> answer;
    if (sent) {
        // Each statement's results end with a null; one after a failure is only "aborted".
        for (int statement = 0; statement < 3 && !Lost(); ++statement) {
            while (PGresult* raw = PQgetResult(conn)) {
                PgResult result(raw);
                if (PQresultStatus(raw) == PGRES_PIPELINE_ABORTED) continue;
                if (auto error = FailureOf(result); error && !failure) failure = std::move(error);
                if (!failure && statement == 1) answer.emplace(std::move(result));
            }
        }
        if (!Lost()) PgResult sync(PQgetResult(conn));
    }
    // Idle again once the sync's result is read; anything still pending is read and dropped.
    for (int tries = 0; PQexitPipelineMode(conn) != 1 && tries < 8 && !Lost(); ++tries) PgResult dropped(PQgetResult(conn));
    if (failure) throw std::move(*failure);
    if (!sent || !answer || Lost()) {
        throw PgError(kStateLost, "The connection to the archive server was lost: " + OneLine(PQerrorMessage(conn)));
    }
    return std::move(*answer);
}

PgResult PgConnection::ExecWithMarks(const std::string& sql, const std::vector<FieldValue>& parameters) {
    int count = 0;
    const std::string numbered = NumberPlaceholders(sql, count);
    if (static_cast<std::size_t>(count) != parameters.size()) {
        throw PgError(kStateSyntax, "wrong number of parameters: " + std::to_string(count) + " expected, " +
                                        std::to_string(parameters.size()) + " given");
    }
    return Exec(numbered, parameters);
}

void PgConnection::Reconnect() {
    PGconn* conn = Get();
    constexpr int kAttempts = 6;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        Backoff(attempt);
        PQreset(conn);
        prepared_.clear();
        if (PQstatus(conn) == CONNECTION_OK) {
            Prepare();
            return;
        }
    }
    throw PgError(kStateLost, "The archive server cannot be reached: " + OneLine(PQerrorMessage(conn)));
}

void Backoff(int attempt) {
    // A busy transaction is tried again quickly: it is one store's, and the writer waits for it.
    constexpr RetrySchedule kBusyRetry(std::chrono::milliseconds(50), std::chrono::seconds(2));
    std::this_thread::sleep_for(kBusyRetry.PauseAfter(attempt));
}

}  // namespace vexa::postgres
