// What the archive's viewer and `vexa list` ask of the archive: lists of received or sent faxes
// with filters and paging, one row, and a received fax's New mark, cleared and set again. An engine implements
// it beside its ArchiveEngine (SQLite now, a server engine later), so the viewer never writes SQL.
// Everything read through it came from strangers' mail and is shown as data only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_names.h"

namespace vexa {

enum class ArchiveTable { Recv, Send };

// A sent fax's state, from its Confirm column: no confirmation yet (empty or NULL), or the
// confirmation's verdict.
enum class ConfirmState { Unconfirmed, Successful, Unsuccessful };

// The Confirm text of a state ("" for Unconfirmed), and the state of a Confirm text; any text
// other than the two verdicts reads as Unconfirmed.
inline const char* ConfirmText(ConfirmState state) {
    switch (state) {
        case ConfirmState::Successful: return "Successful";
        case ConfirmState::Unsuccessful: return "Unsuccessful";
        case ConfirmState::Unconfirmed: break;
    }
    return "";
}
inline ConfirmState ConfirmStateOf(const std::string& confirm) {
    if (confirm == "Successful") return ConfirmState::Successful;
    if (confirm == "Unsuccessful") return ConfirmState::Unsuccessful;
    return ConfirmState::Unconfirmed;
}

// The state's name as lists show it and filters take it: "Unconfirmed", "Successful" or
// "Unsuccessful"; and the state of such a name, nothing for any other text.
inline const char* ConfirmStateName(ConfirmState state) {
    return state == ConfirmState::Unconfirmed ? "Unconfirmed" : ConfirmText(state);
}
inline std::optional<ConfirmState> ConfirmStateNamed(std::string_view name) {
    for (const ConfirmState state : {ConfirmState::Unconfirmed, ConfirmState::Successful, ConfirmState::Unsuccessful}) {
        if (name == ConfirmStateName(state)) return state;
    }
    return std::nullopt;
}

// True for a day of the calendar written YYYY-MM-DD, as the lists' date range takes it.
inline bool IsCalendarDay(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    int parts[3] = {};
    const std::size_t starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
    for (int p = 0; p < 3; ++p) {
        for (std::size_t i = starts[p]; i < starts[p] + lengths[p]; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            parts[p] = parts[p] * 10 + (text[i] - '0');
        }
    }
    return std::chrono::year_month_day{std::chrono::year(parts[0]), std::chrono::month(static_cast<unsigned>(parts[1])),
                                       std::chrono::day(static_cast<unsigned>(parts[2]))}
        .ok();
}

// The column a list is ordered by. State is New for received faxes and the confirmation's state
// for sent ones. Rows that tie are ordered by Id, in the same direction.
enum class SortColumn { Date, Number, Subject, Description, FileName, State, Who };

// The name of a column as addresses and `vexa list --sort` take it ("date", "number", "subject",
// "description", "file", "state", "who"), and the column of such a name.
inline const char* SortColumnName(SortColumn column) {
    switch (column) {
        case SortColumn::Date: return "date";
        case SortColumn::Number: return "number";
        case SortColumn::Subject: return "subject";
        case SortColumn::Description: return "description";
        case SortColumn::FileName: return "file";
        case SortColumn::State: return "state";
        case SortColumn::Who: return "who";
    }
    return "date";
}
inline std::optional<SortColumn> SortColumnNamed(std::string_view name) {
    for (const SortColumn column : {SortColumn::Date, SortColumn::Number, SortColumn::Subject, SortColumn::Description,
                                    SortColumn::FileName, SortColumn::State, SortColumn::Who}) {
        if (name == SortColumnName(column)) return column;
    }
    return std::nullopt;
}

struct ListQuery {
    ArchiveTable table = ArchiveTable::Recv;
    SortColumn sort = SortColumn::Date;
    bool ascending = false;              // newest first unless asked otherwise
    bool onlyNew = false;                // recv only: the rows still New (for the person asking)
    std::optional<ConfirmState> state;   // send only
    // Blank-separated words; each must appear, in any letter case, in Number, Subject,
    // Description or FileName (or Who, on a shared archive). Taken literally: no wildcards.
    std::string search;
    std::optional<std::string> since;    // "YYYY-MM-DD", that day included
    std::optional<std::string> until;    // "YYYY-MM-DD", that day included
    std::optional<std::int64_t> limit;   // unset: every row
    std::int64_t offset = 0;
};

struct ArchiveRow {
    std::int64_t id = 0;
    std::string date;  // "YYYY-MM-DD HH:MM:SS", local time as archived
    std::string number;
    std::string subject;
    std::string description;
    std::string fileName;
    std::string fileId;
    // Who archived it: the installation's user and host ("ann@desk-3") on a shared archive, where
    // it is recorded when the row is written; empty on the embedded archive and for older rows.
    std::string who;
    bool isNew = false;                             // recv; on a shared archive, for the person asking
    ConfirmState confirm = ConfirmState::Unconfirmed;  // send
};

// "recv" or "send".
inline const char* ArchiveTableName(ArchiveTable table) { return table == ArchiveTable::Recv ? kRecvTable : kSendTable; }

// True when `row`'s FileId is the name the store makes for this very row of `table`; anything
// else in FileId is no file of ours, and never becomes a path.
inline bool IsOwnStoredFile(ArchiveTable table, const ArchiveRow& row) {
    const auto owner = OwnerOfStoredFile(row.fileId);
    return owner && owner->id == row.id && std::string_view(owner->table) == ArchiveTableName(table);
}

// Implementations throw HostError when the archive refuses.
class ArchiveQueries {
public:
    virtual ~ArchiveQueries() = default;
    // The rows `query` selects, in its order (by default newest first: Date, then Id, descending),
    // paged by its limit and offset.
    virtual std::vector<ArchiveRow> List(const ListQuery& query) = 0;
    // How many rows `query` selects, paging left aside.
    virtual std::int64_t Count(const ListQuery& query) = 0;
    virtual std::optional<ArchiveRow> Row(ArchiveTable table, std::int64_t id) = 0;
    // The received fax `id` has been seen: it is no longer New (for the person asking, on a
    // shared archive).
    virtual void ClearNew(std::int64_t id) = 0;
    // The received fax `id` is New again (for the person asking, on a shared archive).
    virtual void MarkNew(std::int64_t id) = 0;
    // Every received fax `query` selects (paging aside) is no longer New; returns how many were.
    virtual std::int64_t ClearNewAll(const ListQuery& query) = 0;
    // True on the shared archive: New is per person and rows name who archived them.
    virtual bool Shared() const = 0;
    // A number that changes whenever the archive changed, by this object or by any other writer
    // (a watcher archiving a fax): a page polls it to show new rows without being reloaded.
    virtual std::int64_t Version() = 0;
    // The bytes of the stored attachment file `fileId` (a name the store made, such as
    // "R0000042.tif"), handed to `sink` piece by piece, so that a file of any size passes through
    // little memory; false when there is no such file.
    virtual bool ReadStoredFile(const std::string& fileId, const std::function<void(std::string_view)>& sink) = 0;
};

}  // namespace vexa
