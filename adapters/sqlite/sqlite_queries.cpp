#include "adapters/sqlite/sqlite_queries.h"

#include <sqlite3.h>

#include "adapters/sqlite/sqlite_statement.h"
#include "archive/archive_names.h"

namespace vexa::sqlite {
namespace {

// As long as the archive engine waits for a viewer, a viewer waits for a writer.
constexpr int kBusyTimeoutMs = 5000;

// Both tables have the same columns but the last: New in recv, Confirm in send.
const char* TableName(ArchiveTable table) { return table == ArchiveTable::Recv ? kRecvTable : kSendTable; }

std::string SelectColumns(ArchiveTable table) {
    return std::string("SELECT Id, Date, Number, Subject, Description, FileName, FileId, ") +
           (table == ArchiveTable::Recv ? "New" : "Confirm") + " FROM " + TableName(table);
}

// A word taken literally in a LIKE pattern: its own '%', '_' and '\' match only themselves.
std::string LikePattern(const std::string& word) {
    std::string pattern = "%";
    for (const char c : word) {
        if (c == '%' || c == '_' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern + "%";
}

// The WHERE clause of `query` (empty or starting with " WHERE"), its values appended to `values`.
// Only fixed SQL text is built here; everything the user typed is a bound value.
std::string WhereClause(const ListQuery& query, std::vector<FieldValue>& values) {
    std::vector<std::string> conditions;
    if (query.table == ArchiveTable::Recv && query.onlyNew) conditions.emplace_back("New <> 0");
    if (query.table == ArchiveTable::Send && query.state) {
        if (*query.state == ConfirmState::Unconfirmed) {
            conditions.emplace_back("(Confirm IS NULL OR Confirm NOT IN ('Successful', 'Unsuccessful'))");
        } else {
            conditions.emplace_back("Confirm = ?");
            values.emplace_back(std::string(ConfirmText(*query.state)));
        }
    }
    std::size_t start = 0;
    while (start < query.search.size()) {
        const std::size_t begin = query.search.find_first_not_of(" \t\r\n", start);
        if (begin == std::string::npos) break;
        std::size_t end = query.search.find_first_of(" \t\r\n", begin);
        if (end == std::string::npos) end = query.search.size();
        const std::string pattern = LikePattern(query.search.substr(begin, end - begin));
        conditions.emplace_back(
            "(Number LIKE ? ESCAPE '\\' OR Subject LIKE ? ESCAPE '\\' OR Description LIKE ? ESCAPE '\\' "
            "OR FileName LIKE ? ESCAPE '\\')");
        for (int column = 0; column < 4; ++column) values.emplace_back(pattern);
        start = end;
    }
    if (query.since) {
        conditions.emplace_back("Date >= ?");
        values.emplace_back(*query.since);
    }
    if (query.until) {
        // The whole day: before the next one begins, so that the index on Date serves.
        conditions.emplace_back("Date < date(?, '+1 day')");
        values.emplace_back(*query.until);
    }
    std::string clause;
    for (const auto& condition : conditions) clause += (clause.empty() ? " WHERE " : " AND ") + condition;
    return clause;
}

ArchiveRow ReadRow(const SqliteStatement& statement, ArchiveTable table) {
    ArchiveRow row;
    row.id = std::stoll(statement.Text(0));
    row.date = statement.Text(1);
    row.number = statement.Text(2);
    row.subject = statement.Text(3);
    row.description = statement.Text(4);
    row.fileName = statement.Text(5);
    row.fileId = statement.Text(6);
    const std::string last = statement.Text(7);
    if (table == ArchiveTable::Recv) {
        row.isNew = !last.empty() && last != "0";
    } else {
        row.confirm = ConfirmStateOf(last);
    }
    return row;
}

}  // namespace

struct SqliteArchiveQueries::Handle {
    DatabaseHandle db;
    // SQLite's data_version counts the commits of other connections only; this one's own.
    std::int64_t ownChanges = 0;
};

SqliteArchiveQueries::SqliteArchiveQueries(const std::string& path) : handle_(std::make_unique<Handle>()) {
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    handle_->db.reset(raw);
    if (code != SQLITE_OK) throw SqliteFileError(handle_->db.get(), code, path);
    sqlite3_busy_timeout(handle_->db.get(), kBusyTimeoutMs);
    // Reading the schema proves the file is a database before anything is asked of it.
    ExecuteOnFile(handle_->db.get(), "SELECT count(*) FROM sqlite_schema", path);
    EnsureListIndexes(handle_->db.get());
}

SqliteArchiveQueries::~SqliteArchiveQueries() = default;

std::vector<ArchiveRow> SqliteArchiveQueries::List(const ListQuery& query) {
    std::vector<FieldValue> values;
    std::string sql = SelectColumns(query.table) + WhereClause(query, values) + " ORDER BY Date DESC, Id DESC";
    if (query.limit || query.offset > 0) {
        sql += " LIMIT ? OFFSET ?";
        values.emplace_back(query.limit ? *query.limit : std::int64_t{-1});
        values.emplace_back(query.offset);
    }
    SqliteStatement statement(handle_->db.get(), sql);
    statement.BindAll(values);
    std::vector<ArchiveRow> rows;
    while (statement.Step()) rows.push_back(ReadRow(statement, query.table));
    return rows;
}

std::int64_t SqliteArchiveQueries::Count(const ListQuery& query) {
    std::vector<FieldValue> values;
    const std::string sql = std::string("SELECT count(*) FROM ") + TableName(query.table) + WhereClause(query, values);
    SqliteStatement statement(handle_->db.get(), sql);
    statement.BindAll(values);
    return statement.Step() ? std::stoll(statement.Text(0)) : 0;
}

std::optional<ArchiveRow> SqliteArchiveQueries::Row(ArchiveTable table, std::int64_t id) {
    SqliteStatement statement(handle_->db.get(), SelectColumns(table) + " WHERE Id = ?");
    statement.BindAll({id});
    if (!statement.Step()) return std::nullopt;
    return ReadRow(statement, table);
}

void SqliteArchiveQueries::ClearNew(std::int64_t id) {
    SqliteStatement statement(handle_->db.get(), std::string("UPDATE ") + kRecvTable + " SET New = 0 WHERE Id = ?");
    statement.BindAll({id});
    statement.Run();
    ++handle_->ownChanges;
}

std::int64_t SqliteArchiveQueries::Version() {
    SqliteStatement statement(handle_->db.get(), "PRAGMA data_version");
    const std::int64_t others = statement.Step() ? std::stoll(statement.Text(0)) : 0;
    return others + handle_->ownChanges;
}

}  // namespace vexa::sqlite
