// The recordset of an SQL archive engine: AddNew, SetField, Update and Id kept the same on every
// engine, so a store procedure sees one behaviour whichever engine holds the archive. An engine
// derives from SqlRecordset and supplies only what is its own: how an INSERT hands back the new
// row's Id, how an UPDATE counts its rows, and the error it raises for each misuse.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive_engine.h"

namespace vexa {

// `name` in double quotes, inner quotes doubled: standard SQL, so any spelling survives.
std::string QuoteSqlIdentifier(const std::string& name);

class SqlRecordset : public ArchiveRecordset {
public:
    // `table` and `columns` as the archive spells them; a column is set in any letter case and
    // saved under the table's own spelling.
    SqlRecordset(std::string table, std::vector<std::string> columns);

    void AddNew() override;
    void SetField(const std::string& column, const FieldValue& value) override;
    // On failure nothing pending is lost, so the caller may correct a value and call Update again.
    void Update() override;
    std::int64_t Id() override;

protected:
    // Numbered from 0 in this order, so an engine may keep its codes in an array indexed by it.
    enum class Failure {
        kNoSuchColumn,  // SetField named a column the table does not have
        kMisuse,        // Update before AddNew, Id before the first save
        kRowGone,       // the saved row was deleted by someone else
    };

    const std::string& Table() const noexcept { return table_; }

    // Both statements mark `values` with "?" in order, as ArchiveConnection::Execute takes them.
    // Runs `sql`, an INSERT, and returns the Id the engine gave the new row.
    virtual std::int64_t RunInsert(const std::string& sql, const std::vector<FieldValue>& values) = 0;
    // Runs `sql`, an UPDATE, and returns the number of rows it changed.
    virtual std::int64_t RunUpdate(const std::string& sql, const std::vector<FieldValue>& values) = 0;
    // Throws the engine's own error for `failure` with `description`; never returns.
    [[noreturn]] virtual void Fail(Failure failure, const std::string& description) const = 0;

private:
    void Insert();
    void UpdateSaved();
    std::string IdColumn() const;

    std::string table_;
    std::vector<std::string> columns_;
    std::vector<std::pair<std::string, FieldValue>> pending_;
    bool adding_ = false;
    std::optional<std::int64_t> savedId_;
};

}  // namespace vexa
