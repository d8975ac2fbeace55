// What only SQLite's recordsets show (what any engine's recordset does is checked on both in
// tests/postgres/archive_engine_contract_test.cpp): numbers kept in the file after its last row is
// deleted, SQLite's words for a refused row, and group commit.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "adapters/sqlite/sqlite_archive.h"
#include "host/host_error.h"
#include "tests/sqlite/sqlite_test_support.h"

namespace vexa::sqlite {
namespace {

using namespace std::string_literals;
using Rows = std::vector<std::string>;

class SqliteRecordset : public test::ArchiveTest {};

TEST_F(SqliteRecordset, IdsCountUpAndAreNeverReusedAfterTheLastRowIsDeleted) {
    for (const std::string table : {"recv", "send"}) {
        SCOPED_TRACE(table);
        auto connection = Open();
        auto recordset = connection->OpenTable(table);
        std::vector<std::int64_t> ids;
        for (int i = 0; i < 3; ++i) {
            recordset->AddNew();
            recordset->Update();
            ids.push_back(recordset->Id());
        }
        EXPECT_EQ(connection->Execute("DELETE FROM " + table, {}), 3);
        connection->Close();

        connection = Open();
        recordset = connection->OpenTable(table);
        recordset->AddNew();
        recordset->Update();
        ids.push_back(recordset->Id());
        connection->Close();
        EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 2, 3, 4}));
        EXPECT_EQ(ReadRows("SELECT Id FROM " + table), Rows{"4"});
    }
}

// How a refused row is corrected and saved again is checked on both engines; here, that the
// refusal carries SQLite's own number and words.
TEST_F(SqliteRecordset, ARefusedRowFailsWithSqlitesNumberAndDescription) {
    auto connection = Open();
    auto recv = connection->OpenTable("recv");
    recv->AddNew();
    recv->SetField("New", std::monostate{});
    try {
        recv->Update();
        ADD_FAILURE() << "a NULL was saved to a NOT NULL column";
    } catch (const HostError& e) {
        EXPECT_EQ(e.Number(), SQLITE_CONSTRAINT);
        EXPECT_EQ(e.Description(), "NOT NULL constraint failed: recv.New");
    }
}

// Group commit: each store still commits or rolls back whole, but a reader sees nothing of the
// group before its commit, and an aborted group leaves nothing, not even used-up numbers.
TEST_F(SqliteRecordset, GroupCommitsItsStoresTogetherAndEachStoreStaysWhole) {
    sqlite::SqliteArchiveEngine engine;
    auto connection = engine.Open(path_);
    const auto store = [&](const std::string& subject, bool commit) {
        ArchiveTransaction transaction(*connection);
        auto recordset = connection->OpenTable("recv");
        recordset->AddNew();
        recordset->SetField("Subject", subject);
        recordset->Update();
        if (commit) transaction.Commit();
        return recordset->Id();
    };
    engine.BeginGroup();
    std::vector<std::int64_t> ids{store("a", true), store("refused", false), store("b", true)};
    EXPECT_EQ(ReadRows("SELECT Subject FROM recv"), Rows{});
    engine.CommitGroup();
    EXPECT_EQ(ReadRows("SELECT Id, Subject FROM recv ORDER BY Id"), (Rows{"1|a", "3|b"}));

    engine.BeginGroup();
    ids.push_back(store("lost", true));
    engine.AbortGroup();
    ids.push_back(store("alone", true));
    EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 2, 3, 4, 4}));
    EXPECT_EQ(ReadRows("SELECT Id, Subject FROM recv ORDER BY Id"), (Rows{"1|a", "3|b", "4|alone"}));
}

}  // namespace
}  // namespace vexa::sqlite
