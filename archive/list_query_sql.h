// The SQL of the archive's lists (ArchiveQueries::List and Count) for every SQL engine: the
// columns read, the filters of a ListQuery and the paging, with "?" for each bound value. The
// engines differ only in a few words, which each one states in its ListSqlDialect.
#pragma once

#include <cstdint>
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
    // A received fax's New as read (the column, or the person asking's own New where it is per
    // person).
    const char* newColumn = "New";
    // Who archived the row as text ("" when unknown), or nullptr where the archive does not record
    // it; searched with the other texts when recorded.
    const char* whoColumn = nullptr;
};

// "SELECT Id, Date, Number, Subject, Description, FileName, FileId, New|Confirm, Who FROM <table>",
// the order ArchiveRow is read in (Who is "" where the archive does not record it).
std::string ListSelectSql(const ListSqlDialect& dialect, ArchiveTable table);

// The rows `query` selects, newest first and paged; its values are appended to `values`.
std::string ListRowsSql(const ListSqlDialect& dialect, const ListQuery& query, std::vector<FieldValue>& values);

// "SELECT Id FROM <table> WHERE ...": the ids of every row `query` selects, paging aside; its
// values are appended to `values`.
std::string ListIdsSql(const ListSqlDialect& dialect, const ListQuery& query, std::vector<FieldValue>& values);

// How many rows `query` selects; its values are appended to `values`.
std::string ListCountSql(const ListSqlDialect& dialect, const ListQuery& query, std::vector<FieldValue>& values);

}  // namespace vexa
