// What the SQLite archive tests share: an archive in a fresh temporary folder, rows read back
// through a connection of SQLite's own (as a viewer would see them), and a failure's description.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "adapters/sqlite/sqlite_archive.h"
#include "host/host_error.h"
#include "tests/posix/temp_dir.h"

namespace vexa::test {

struct CloseRawDatabase {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct FinalizeRawStatement {
    void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};

// Every row `sql` returns from the file at `path`, its columns joined by '|', NULL as "NULL".
inline std::vector<std::string> QueryRows(const std::string& path, const std::string& sql) {
    sqlite3* rawDb = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &rawDb, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, CloseRawDatabase> db(rawDb);
    if (opened != SQLITE_OK) {
        ADD_FAILURE() << "can't open " << path << ": " << sqlite3_errstr(opened);
        return {};
    }
    sqlite3_stmt* rawStatement = nullptr;
    if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &rawStatement, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db.get());
        return {};
    }
    std::unique_ptr<sqlite3_stmt, FinalizeRawStatement> statement(rawStatement);
    std::vector<std::string> rows;
    int stepped;
    while ((stepped = sqlite3_step(statement.get())) == SQLITE_ROW) {
        std::string row;
        for (int column = 0; column < sqlite3_column_count(statement.get()); ++column) {
            if (column > 0) row += '|';
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), column));
            row += text ? text : "NULL";
        }
        rows.push_back(std::move(row));
    }
    if (stepped != SQLITE_DONE) ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db.get());
    return rows;
}

// The description of the HostError `action` throws, or "no error".
template <typename Action>
std::string FailureOf(Action&& action) {
    try {
        action();
    } catch (const HostError& e) {
        return e.Description();
    }
    return "no error";
}

// A freshly created archive in a folder of its own.
class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override { sqlite::CreateSqliteArchive(path_); }

    std::unique_ptr<ArchiveConnection> Open() { return sqlite::SqliteArchiveEngine().Open(path_); }
    std::vector<std::string> ReadRows(const std::string& sql) const { return QueryRows(path_, sql); }

    TempDir folder_;
    const std::string path_ = (folder_ / "Corvane.mdb").string();
};

}  // namespace vexa::test
