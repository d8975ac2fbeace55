#include "archive/sql_recordset.h"

#include <algorithm>

namespace vexa {
namespace {

// SQL matches names regardless of letter case, in ASCII only, as both engines do.
bool SameName(const std::string& a, const std::string& b) {
    const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    return std::ranges::equal(a, b, [&](unsigned char x, unsigned char y) { return lower(x) == lower(y); });
}

}  // namespace

std::string QuoteSqlIdentifier(const std::string& name) {
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

SqlRecordset::SqlRecordset(std::string table, std::vector<std::string> columns)
    : table_(std::move(table)), columns_(std::move(columns)) {}

void SqlRecordset::AddNew() {
    pending_.clear();
    adding_ = true;
}

void SqlRecordset::SetField(const std::string& column, const FieldValue& value) {
    const auto known = std::ranges::find_if(columns_, [&](const std::string& name) { return SameName(name, column); });
    if (known == columns_.end()) Fail(Failure::kNoSuchColumn, "no such column: " + column);
    // Keyed by the table's own spelling, so "fileid" then "FileId" is one column set twice.
    const auto set = std::ranges::find_if(pending_, [&](const auto& field) { return field.first == *known; });
    if (set != pending_.end()) {
        set->second = value;
    } else {
        pending_.emplace_back(*known, value);
    }
}

void SqlRecordset::Update() {
    if (adding_) {
        Insert();
    } else if (savedId_) {
        UpdateSaved();
    } else {
        Fail(Failure::kMisuse, "There is no row to update in " + table_ + "; call AddNew first.");
    }
}

std::int64_t SqlRecordset::Id() {
    if (!savedId_) Fail(Failure::kMisuse, "No row of " + table_ + " has been saved yet.");
    return *savedId_;
}

void SqlRecordset::Insert() {
    std::string sql = "INSERT INTO " + QuoteSqlIdentifier(table_);
    std::vector<FieldValue> values;
    if (pending_.empty()) {
        sql += " DEFAULT VALUES";
    } else {
        std::string names;
        std::string placeholders;
        for (const auto& [column, value] : pending_) {
            if (!names.empty()) {
                names += ',';
                placeholders += ',';
            }
            names += QuoteSqlIdentifier(column);
            placeholders += '?';
            values.push_back(value);
        }
        sql += " (" + names + ") VALUES (" + placeholders + ")";
    }
    savedId_ = RunInsert(sql, values);
    adding_ = false;
    pending_.clear();
}

void SqlRecordset::UpdateSaved() {
    if (pending_.empty()) return;
    std::string assignments;
    std::vector<FieldValue> values;
    for (const auto& [column, value] : pending_) {
        if (!assignments.empty()) assignments += ',';
        assignments += QuoteSqlIdentifier(column) + "=?";
        values.push_back(value);
    }
    values.emplace_back(*savedId_);
    const std::string sql = "UPDATE " + QuoteSqlIdentifier(table_) + " SET " + assignments + " WHERE " +
                            QuoteSqlIdentifier(IdColumn()) + "=?";
    // Someone else deleted the row since it was saved; the new values would silently vanish.
    if (RunUpdate(sql, values) == 0) {
        Fail(Failure::kRowGone, "Row " + std::to_string(*savedId_) + " of " + table_ + " no longer exists.");
    }
    pending_.clear();
}

// The Id column as the table spells it: a server that folds unquoted names keeps it as "id".
std::string SqlRecordset::IdColumn() const {
    const auto id = std::ranges::find_if(columns_, [](const std::string& name) { return SameName(name, "Id"); });
    return id != columns_.end() ? *id : "Id";
}

}  // namespace vexa
