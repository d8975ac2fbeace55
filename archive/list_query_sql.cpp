#include "archive/list_query_sql.h"

#include "archive/archive_names.h"

namespace vexa {
namespace {

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
std::string WhereClause(const ListSqlDialect& dialect, const ListQuery& query, std::vector<FieldValue>& values) {
    std::vector<std::string> conditions;
    if (query.table == ArchiveTable::Recv && query.onlyNew) conditions.emplace_back(dialect.onlyNewCondition);
    if (query.table == ArchiveTable::Send && query.state) {
        if (*query.state == ConfirmState::Unconfirmed) {
            conditions.emplace_back("(Confirm IS NULL OR Confirm NOT IN ('Successful', 'Unsuccessful'))");
        } else {
            conditions.emplace_back("Confirm = ?");
            values.emplace_back(std::string(ConfirmText(*query.state)));
        }
    }
    const std::string match = std::string(" ") + dialect.matchOperator + " ? ESCAPE '\\'";
    std::size_t start = 0;
    while (start < query.search.size()) {
        const std::size_t begin = query.search.find_first_not_of(" \t\r\n", start);
        if (begin == std::string::npos) break;
        std::size_t end = query.search.find_first_of(" \t\r\n", begin);
        if (end == std::string::npos) end = query.search.size();
        const std::string pattern = LikePattern(query.search.substr(begin, end - begin));
        const int columns = dialect.whoColumn ? 5 : 4;
        conditions.push_back("(Number" + match + " OR Subject" + match + " OR Description" + match +
                             " OR FileName" + match + (dialect.whoColumn ? " OR " + std::string(dialect.whoColumn) + match : "") +
                             ")");
        for (int column = 0; column < columns; ++column) values.emplace_back(pattern);
        start = end;
    }
    if (query.since) {
        conditions.emplace_back(dialect.sinceCondition);
        values.emplace_back(*query.since);
    }
    if (query.until) {
        conditions.emplace_back(dialect.untilCondition);
        values.emplace_back(*query.until);
    }
    std::string clause;
    for (const auto& condition : conditions) clause += (clause.empty() ? " WHERE " : " AND ") + condition;
    return clause;
}

}  // namespace

std::string ListSelectSql(const ListSqlDialect& dialect, ArchiveTable table) {
    // Both tables have the same columns but the last: New in recv, Confirm in send.
    return std::string("SELECT Id, ") + dialect.dateColumn + ", Number, Subject, Description, FileName, FileId, " +
           (table == ArchiveTable::Recv ? dialect.newColumn : "Confirm") + ", " +
           (dialect.whoColumn ? dialect.whoColumn : "''") + " FROM " + ArchiveTableName(table);
}

std::string ListRowsSql(const ListSqlDialect& dialect, const ListQuery& query, std::vector<FieldValue>& values) {
    std::string sql =
        ListSelectSql(dialect, query.table) + WhereClause(dialect, query, values) + " ORDER BY Date DESC, Id DESC";
    if (query.limit || query.offset > 0) {
        sql += " LIMIT ? OFFSET ?";
        values.push_back(query.limit ? FieldValue(*query.limit) : dialect.noLimit);
        values.emplace_back(query.offset);
    }
    return sql;
}

std::string ListIdsSql(const ListSqlDialect& dialect, const ListQuery& query, std::vector<FieldValue>& values) {
    return std::string("SELECT Id FROM ") + ArchiveTableName(query.table) + WhereClause(dialect, query, values);
}

std::string ListCountSql(const ListSqlDialect& dialect, const ListQuery& query, std::vector<FieldValue>& values) {
    return std::string("SELECT count(*) FROM ") + ArchiveTableName(query.table) + WhereClause(dialect, query, values);
}

}  // namespace vexa
