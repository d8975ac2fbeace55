#include "archive/list_query_sql.h"

#include <algorithm>

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
    if (query.table == ArchiveTable::Recv && query.onlyNew) {
        conditions.emplace_back(dialect.onlyNewCondition);
        if (dialect.unseenCondition) conditions.emplace_back(dialect.unseenCondition);
    }
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

// A sent fax's state as the list orders it: Unconfirmed (no verdict, or text that is none),
// Successful, Unsuccessful. The index holds this very expression.
constexpr const char* kSendStateOrder = "(CASE Confirm WHEN 'Successful' THEN 1 WHEN 'Unsuccessful' THEN 2 ELSE 0 END)";

// A list's orders: the key of each table, and whether it is text (ordered byte by byte, the
// rows without one first when ascending). Each is indexed as (key, Id), which read forwards or
// backwards gives both directions with ties by Id.
struct Order {
    SortColumn column;
    const char* name;  // of the index
    const char* recv;
    const char* send;
    bool text;
};
constexpr Order kOrders[] = {
    {SortColumn::Date, "date", "Date", "Date", false},
    {SortColumn::Number, "number", "Number", "Number", true},
    {SortColumn::Subject, "subject", "Subject", "Subject", true},
    {SortColumn::Description, "description", "Description", "Description", true},
    {SortColumn::FileName, "file", "FileName", "FileName", true},
    {SortColumn::State, "state", "New", kSendStateOrder, false},
};

// The key of `order` as both its index and ORDER BY name it.
std::string OrderKey(const ListSqlDialect& dialect, const Order& order, ArchiveTable table) {
    return std::string(table == ArchiveTable::Recv ? order.recv : order.send) + (order.text ? dialect.textOrder : "");
}

// The ORDER BY of `query`: fixed text chosen by the column alone, ties by Id in the same direction.
std::string OrderClause(const ListSqlDialect& dialect, const ListQuery& query) {
    const char* direction = query.ascending ? " ASC" : " DESC";
    for (const Order& order : kOrders) {
        if (order.column != query.sort) continue;
        std::string key = OrderKey(dialect, order, query.table) + direction;
        if (order.text) key += query.ascending ? dialect.nullsFirst : dialect.nullsLast;
        return " ORDER BY " + key + ", Id" + direction;
    }
    // Who archived a row, where the archive records it (its own index, made with the column);
    // elsewhere such rows tie, and ties go by Id.
    if (query.sort == SortColumn::Who && dialect.whoColumn) {
        return std::string(" ORDER BY ") + dialect.whoColumn + dialect.textOrder + direction +
               (query.ascending ? dialect.nullsFirst : dialect.nullsLast) + ", Id" + direction;
    }
    return std::string(" ORDER BY Id") + direction;
}

}  // namespace

std::vector<std::string> ListIndexStatements(const ListSqlDialect& dialect) {
    std::vector<std::string> statements;
    for (const Order& order : kOrders) {
        for (const ArchiveTable table : {ArchiveTable::Recv, ArchiveTable::Send}) {
            const std::string name = ArchiveTableName(table);
            statements.push_back("CREATE INDEX IF NOT EXISTS " + name + "_by_" + order.name + " ON " + name + " (" +
                                 OrderKey(dialect, order, table) + (order.text ? dialect.nullsFirst : "") + ", Id)");
        }
    }
    statements.push_back(std::string("CREATE INDEX IF NOT EXISTS recv_new_by_date ON recv (Date, Id) WHERE ") +
                         dialect.onlyNewCondition);
    return statements;
}

std::string ListSelectSql(const ListSqlDialect& dialect, ArchiveTable table) {
    // Both tables have the same columns but the last: New in recv, Confirm in send.
    return std::string("SELECT Id, ") + dialect.dateColumn + ", Number, Subject, Description, FileName, FileId, " +
           (table == ArchiveTable::Recv ? dialect.newColumn : "Confirm") + ", " +
           (dialect.whoColumn ? "coalesce(" + std::string(dialect.whoColumn) + ", '')" : std::string("''")) + " FROM " +
           ArchiveTableName(table);
}

std::string ListRowsSql(const ListSqlDialect& dialect, const ListQuery& query, std::vector<FieldValue>& values) {
    std::string sql =
        ListSelectSql(dialect, query.table) + WhereClause(dialect, query, values) + OrderClause(dialect, query);
    if (query.limit || query.offset > 0) {
        sql += " LIMIT ? OFFSET ?";
        values.push_back(query.limit ? FieldValue(*query.limit) : dialect.noLimit);
        values.emplace_back(query.offset);
    }
    return sql;
}

std::string NewRecvIdsSql(const ListSqlDialect& dialect, const ListQuery& query, std::vector<FieldValue>& values) {
    ListQuery fresh = query;
    fresh.table = ArchiveTable::Recv;
    fresh.onlyNew = true;
    return std::string("SELECT Id FROM ") + kRecvTable + WhereClause(dialect, fresh, values);
}

std::vector<ArchiveRow> ReadPage(const ListQuery& query,
                                 const std::function<std::vector<ArchiveRow>(const ListQuery&)>& rows,
                                 const std::function<std::int64_t(const ListQuery&)>& count) {
    // Below this offset the rows before the page cost less to pass over than a count.
    constexpr std::int64_t kFarOffset = 1000;
    if (!query.limit || query.offset < kFarOffset) return rows(query);
    const std::int64_t total = count(query);
    const std::int64_t end = std::min(total, query.offset + *query.limit);
    if (total - end >= query.offset) return rows(query);
    // Ties go by Id in the same direction and rows without a text sit at one end, so the list
    // read the other way round is exactly this one reversed.
    ListQuery reversed = query;
    reversed.ascending = !query.ascending;
    reversed.offset = total - end;
    reversed.limit = std::max<std::int64_t>(0, end - query.offset);
    std::vector<ArchiveRow> page = rows(reversed);
    std::reverse(page.begin(), page.end());
    return page;
}

std::string ListCountSql(const ListSqlDialect& dialect, const ListQuery& query, std::vector<FieldValue>& values) {
    return std::string("SELECT count(*) FROM ") + ArchiveTableName(query.table) + WhereClause(dialect, query, values);
}

}  // namespace vexa
