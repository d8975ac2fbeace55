#include "adapters/postgres/postgres_queries.h"

#include <chrono>

#include "adapters/postgres/pg_connection.h"
#include "adapters/postgres/postgres_session.h"
#include "archive/archive_names.h"

namespace vexa::postgres {
namespace {

const char* TableName(ArchiveTable table) { return table == ArchiveTable::Recv ? kRecvTable : kSendTable; }

std::string SelectColumns(ArchiveTable table) {
    return std::string("SELECT id, to_char(date, 'YYYY-MM-DD HH24:MI:SS'), number, subject, description, filename, "
                       "fileid, ") +
           (table == ArchiveTable::Recv ? "new" : "confirm") + " FROM " + TableName(table);
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

// The WHERE clause of `query` with "?" for its values, which are appended to `values`. Only
// fixed SQL text is built here; everything the user typed is a bound value.
std::string WhereClause(const ListQuery& query, std::vector<FieldValue>& values) {
    std::vector<std::string> conditions;
    if (query.table == ArchiveTable::Recv && query.onlyNew) conditions.emplace_back("new");
    if (query.table == ArchiveTable::Send && query.state) {
        if (*query.state == ConfirmState::Unconfirmed) {
            conditions.emplace_back("(confirm IS NULL OR confirm NOT IN ('Successful', 'Unsuccessful'))");
        } else {
            conditions.emplace_back("confirm = ?");
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
            "(number ILIKE ? ESCAPE '\\' OR subject ILIKE ? ESCAPE '\\' OR description ILIKE ? ESCAPE '\\' "
            "OR filename ILIKE ? ESCAPE '\\')");
        for (int column = 0; column < 4; ++column) values.emplace_back(pattern);
        start = end;
    }
    if (query.since) {
        conditions.emplace_back("date >= ?::date");
        values.emplace_back(*query.since);
    }
    if (query.until) {
        // The whole day: before the next one begins, so that the index on date serves.
        conditions.emplace_back("date < ?::date + 1");
        values.emplace_back(*query.until);
    }
    std::string clause;
    for (const auto& condition : conditions) clause += (clause.empty() ? " WHERE " : " AND ") + condition;
    return clause;
}

ArchiveRow ReadRow(const PgResult& result, int index, ArchiveTable table) {
    ArchiveRow row;
    row.id = std::stoll(result.Text(index, 0));
    row.date = result.Text(index, 1);
    row.number = result.Text(index, 2);
    row.subject = result.Text(index, 3);
    row.description = result.Text(index, 4);
    row.fileName = result.Text(index, 5);
    row.fileId = result.Text(index, 6);
    if (table == ArchiveTable::Recv) {
        row.isNew = result.Text(index, 7) == "t";
    } else {
        row.confirm = ConfirmStateOf(result.Text(index, 7));
    }
    return row;
}

}  // namespace

struct PostgresArchiveQueries::Handle {
    explicit Handle(const std::string& uri) : pg(uri) { pg.Exec("LISTEN vexa_archive"); }

    // Reads only (ClearNew is one idempotent statement), so a dropped connection is simply made
    // again and the statement repeated; changes missed meanwhile count as one.
    PgResult Run(const std::string& sql, const std::vector<FieldValue>& values) {
        for (int attempt = 0;; ++attempt) {
            try {
                if (pg.Lost()) {
                    pg.Reconnect();
                    pg.Exec("LISTEN vexa_archive");
                    ++version;
                }
                return pg.ExecWithMarks(sql, values);
            } catch (const PgError& e) {
                if (!(e.ConnectionLost() || e.Retryable()) || attempt >= 3) throw;
                Backoff(attempt);
            }
        }
    }

    PgConnection pg;
    std::int64_t version = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
};

PostgresArchiveQueries::PostgresArchiveQueries(const std::string& uri) : handle_(std::make_unique<Handle>(uri)) {}

PostgresArchiveQueries::~PostgresArchiveQueries() = default;

std::vector<ArchiveRow> PostgresArchiveQueries::List(const ListQuery& query) {
    std::vector<FieldValue> values;
    std::string sql = SelectColumns(query.table) + WhereClause(query, values) + " ORDER BY date DESC, id DESC";
    if (query.limit || query.offset > 0) {
        // LIMIT NULL is no limit at all.
        sql += " LIMIT ? OFFSET ?";
        values.push_back(query.limit ? FieldValue(*query.limit) : FieldValue());
        values.emplace_back(query.offset);
    }
    const PgResult result = handle_->Run(sql, values);
    std::vector<ArchiveRow> rows;
    rows.reserve(static_cast<std::size_t>(result.Rows()));
    for (int index = 0; index < result.Rows(); ++index) rows.push_back(ReadRow(result, index, query.table));
    return rows;
}

std::int64_t PostgresArchiveQueries::Count(const ListQuery& query) {
    std::vector<FieldValue> values;
    const std::string sql = std::string("SELECT count(*) FROM ") + TableName(query.table) + WhereClause(query, values);
    return std::stoll(handle_->Run(sql, values).Text(0, 0));
}

std::optional<ArchiveRow> PostgresArchiveQueries::Row(ArchiveTable table, std::int64_t id) {
    const PgResult result = handle_->Run(SelectColumns(table) + " WHERE id = ?", {id});
    if (result.Rows() == 0) return std::nullopt;
    return ReadRow(result, 0, table);
}

void PostgresArchiveQueries::ClearNew(std::int64_t id) {
    handle_->Run(std::string("UPDATE ") + kRecvTable + " SET new = false WHERE id = ? AND new", {id});
}

std::int64_t PostgresArchiveQueries::Version() {
    PgConnection& pg = handle_->pg;
    if (pg.Lost() || PQconsumeInput(pg.Get()) == 0) {
        // The run below reconnects and counts what may have been missed meanwhile.
        handle_->Run("SELECT 1", {});
        return handle_->version;
    }
    while (PGnotify* notify = PQnotifies(pg.Get())) {
        PQfreemem(notify);
        ++handle_->version;
    }
    return handle_->version;
}

bool PostgresArchiveQueries::ReadStoredFile(const std::string& fileId,
                                            const std::function<void(std::string_view)>& sink) {
    if (handle_->pg.Lost()) handle_->Run("SELECT 1", {});
    return ReadLargeObjectFile(handle_->pg, false, fileId, sink);
}

}  // namespace vexa::postgres
