// The SQL of the archive's lists (ArchiveQueries::List and Count) for every SQL engine: the
// columns read, the filters of a ListQuery and the paging, with "?" for each bound value. The
// engines differ only in a few words, which each one states in its ListSqlDialect.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive_engine.h"
#include "archive/archive_queries.h"

namespace vexa {

struct ListSqlDialect {
    // The Date column read as "YYYY-MM-DD HH:MM:SS".
    const char* dateColumn;
    // True for a received fax still marked New.
    const char* onlyNewCondition;
    // A LIKE that ignores the case of every letter.
    const char* matchOperator;
    // Date on or after the day bound to "?" ("YYYY-MM-DD").
    const char* sinceCondition;
    // Date before the end of the day bound to "?" ("YYYY-MM-DD").
    const char* untilCondition;
    // The LIMIT value that sets no limit, for an offset without one.
    FieldValue noLimit;
    // Appended to a text column to order it byte by byte, as every engine then does alike.
    const char* textOrder;
    // Appended to an ascending and a descending text key: the rows without the text first when
    // ascending and last when descending, as one index read both ways gives them.
    const char* nullsFirst;
    const char* nullsLast;
    // A received fax's New as read (the column, or the person asking's own New where it is per
    // person).
    const char* newColumn = "New";
    // Where New is per person: true while the person asking has not opened the fax, added to
    // onlyNewCondition (which the index of New rows keeps to the column alone).
    const char* unseenCondition = nullptr;
    // The column naming who archived the row, or nullptr where the archive does not record it;
    // read ("" when unknown), searched with the other texts and ordered by as one.
    const char* whoColumn = nullptr;
};

// The statements that create, where missing, the indexes the lists are read through: for each
// order a list takes, (column, Id) on both tables, read forwards or backwards for the two
// directions; and the received faxes still New by date. Without them an archive works, only a
// list sorted by a column reads and sorts the whole table.
std::vector<std::string> ListIndexStatements(const ListSqlDialect& dialect);

// "SELECT Id, Date, Number, Subject, Description, FileName, FileId, New|Confirm, Who FROM <table>",
// the order ArchiveRow is read in (Who is "" where the archive does not record it).
std::string ListSelectSql(const ListSqlDialect& dialect, ArchiveTable table);

// The rows `query` selects, in its order (column and direction, ties by Id) and paged; its values are appended to `values`.
std::string ListRowsSql(const ListSqlDialect& dialect, const ListQuery& query, std::vector<FieldValue>& values);

// "SELECT Id FROM recv WHERE ...": the ids of the received faxes still New that `query`'s filters
// select (whatever its table and New filter), paging aside; its values are appended to `values`.
std::string NewRecvIdsSql(const ListSqlDialect& dialect, const ListQuery& query, std::vector<FieldValue>& values);

// The page `query` asks for, read through `rows` (the rows of a query, as ListRowsSql gives them).
// A page far down a long list (the last one) is read from the list's other end when that end is
// nearer, `count` telling how long the list is: the index is then walked backwards over the few
// rows after the page rather than forwards over every row before it, and the page turned round.
std::vector<ArchiveRow> ReadPage(const ListQuery& query,
                                 const std::function<std::vector<ArchiveRow>(const ListQuery&)>& rows,
                                 const std::function<std::int64_t(const ListQuery&)>& count);

// How many rows `query` selects; its values are appended to `values`.
std::string ListCountSql(const ListSqlDialect& dialect, const ListQuery& query, std::vector<FieldValue>& values);

}  // namespace vexa
