#include "adapters/sqlite/sqlite_statement.h"

#include <climits>
#include <cstdio>
#include <new>
#include <type_traits>
#include <variant>

#include "adapters/sqlite/sqlite_queries.h"

namespace vexa::sqlite {
namespace {

// Only blanks, comments and empty statements may follow the statement that was prepared.
bool IsOnlyFiller(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ';') {
            ++i;
        } else if (text.substr(i, 2) == "--") {
            const std::size_t end = text.find('\n', i);
            i = end == std::string_view::npos ? text.size() : end + 1;
        } else if (text.substr(i, 2) == "/*") {
            // SQLite ends an unterminated block comment at the end of the text; so does this.
            const std::size_t end = text.find("*/", i + 2);
            i = end == std::string_view::npos ? text.size() : end + 2;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

namespace {

// A busy or locked archive, a full disk, an I/O error, memory: the machine's state, not the
// statement, made it fail.
bool Transient(int code) {
    switch (code & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
        case SQLITE_NOMEM:
        case SQLITE_IOERR:
        case SQLITE_FULL:
        case SQLITE_PROTOCOL:
            return true;
        default:
            return false;
    }
}

}  // namespace

HostError SqliteError(sqlite3* db, int code) {
    return HostError(code, db ? sqlite3_errmsg(db) : sqlite3_errstr(code), Transient(code));
}

HostError SqliteFileError(sqlite3* db, int code, const std::string& path) {
    const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    return HostError(code, std::string(message) + ": " + path, Transient(code));
}

std::string FormatArchiveDate(const LocalDateTime& value) {
    // Room for six full ints, so no field can be cut short.
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", value.year, value.month, value.day, value.hour,
                  value.minute, value.second);
    return text;
}

namespace {

// More than a connection runs over and over; text made up on the fly must not grow it without end.
constexpr std::size_t kMostKept = 32;

}  // namespace

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
    if (sql.size() > static_cast<std::size_t>(INT_MAX)) throw HostError(SQLITE_TOOBIG, "string or blob too big");
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int code = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, &tail);
    statement_.reset(raw);
    if (code != SQLITE_OK) throw SqliteError(db, code);
    if (!statement_) throw HostError(SQLITE_MISUSE, "the statement is empty");
    const auto used = static_cast<std::size_t>(tail - sql.data());
    if (!IsOnlyFiller(sql.substr(used))) throw HostError(SQLITE_ERROR, "only one statement can be run at a time");
}

SqliteStatement::SqliteStatement(StatementCache& cache, std::string_view sql)
    : db_(cache.db_), cache_(&cache), sql_(sql) {
    if (const auto kept = cache.kept_.find(sql_); kept != cache.kept_.end()) {
        statement_ = std::move(kept->second);
        cache.kept_.erase(kept);
        return;
    }
    statement_ = std::move(SqliteStatement(db_, sql).statement_);
}

SqliteStatement::~SqliteStatement() {
    if (cache_ == nullptr || !statement_) return;
    // A statement that failed reports its failure again from reset: it has been reported already.
    sqlite3_reset(statement_.get());
    sqlite3_clear_bindings(statement_.get());
    if (cache_->kept_.size() >= kMostKept) return;
    try {
        cache_->kept_.emplace(std::move(sql_), std::move(statement_));
    } catch (...) {
        // Not kept: it is prepared again next time.
    }
}

void SqliteStatement::BindAll(const std::vector<FieldValue>& values) {
    const int expected = sqlite3_bind_parameter_count(statement_.get());
    if (values.size() != static_cast<std::size_t>(expected)) {
        throw HostError(SQLITE_RANGE, "wrong number of parameters: " + std::to_string(expected) + " expected, " +
                                          std::to_string(values.size()) + " given");
    }
    for (int index = 1; index <= expected; ++index) {
        sqlite3_stmt* statement = statement_.get();
        const int code = std::visit(
            [&](const auto& value) {
                using T = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<T, std::monostate>) {
                    return sqlite3_bind_null(statement, index);
                } else if constexpr (std::is_same_v<T, std::string>) {
                    return sqlite3_bind_text64(statement, index, value.data(), value.size(), SQLITE_TRANSIENT,
                                               SQLITE_UTF8);
                } else if constexpr (std::is_same_v<T, std::int64_t>) {
                    return sqlite3_bind_int64(statement, index, value);
                } else if constexpr (std::is_same_v<T, bool>) {
                    return sqlite3_bind_int(statement, index, value ? 1 : 0);
                } else {
                    static_assert(std::is_same_v<T, LocalDateTime>);
                    const std::string text = FormatArchiveDate(value);
                    return sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                               SQLITE_UTF8);
                }
            },
            values[static_cast<std::size_t>(index - 1)]);
        if (code != SQLITE_OK) throw SqliteError(db_, code);
    }
}

bool SqliteStatement::Step() {
    const int code = sqlite3_step(statement_.get());
    if (code == SQLITE_ROW) return true;
    if (code == SQLITE_DONE) return false;
    throw SqliteError(db_, code);
}

void SqliteStatement::Run() {
    while (Step()) {
    }
}

std::string SqliteStatement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_.get(), column));
    if (!text) return {};
    return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement_.get(), column)));
}

void ExecuteOnFile(sqlite3* db, const char* sql, const std::string& path) {
    const int code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) throw SqliteFileError(db, code, path);
}

void EnsureListIndexes(sqlite3* db) noexcept {
    try {
        std::string sql;
        for (const std::string& statement : ListIndexStatements(SqliteListDialect())) sql += statement + ";";
        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace vexa::sqlite
