// Rows saved through a SQLite recordset, as the store procedures save a received or sent fax:
// what lands in the file, the Ids SQLite assigns, and the later save of the file id.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "adapters/sqlite/sqlite_archive.h"
#include "host/host_error.h"
#include "tests/sqlite/sqlite_test_support.h"

namespace vexa::sqlite {
namespace {

using namespace std::string_literals;
using Rows = std::vector<std::string>;
using test::FailureOf;

class SqliteRecordset : public test::ArchiveTest {};

TEST_F(SqliteRecordset, RowsSavedToBothTablesReadBackAfterReopening) {
    auto connection = Open();
    auto recv = connection->OpenTable("recv");
    recv->AddNew();
    recv->SetField("Date", LocalDateTime{2026, 12, 8, 9, 5, 3});
    recv->SetField("Number", "+49 30 1234567"s);
    recv->SetField("Subject", "Rechnung für März – 東京"s);
    recv->SetField("Description", "Fax from the tax office"s);
    recv->SetField("FileName", "fax 0001.pdf"s);
    recv->SetField("FileId", "A-1"s);
    recv->Update();
    EXPECT_EQ(recv->Id(), 1);

    auto send = connection->OpenTable("send");
    send->AddNew();
    send->SetField("Date", LocalDateTime{2027, 1, 2, 23, 59, 0});
    send->SetField("Number", "0221 98765"s);
    send->SetField("Subject", "Reply"s);
    send->SetField("Confirm", "OK"s);
    send->Update();
    EXPECT_EQ(send->Id(), 1);
    connection->Close();

    connection = Open();
    recv = connection->OpenTable("recv");
    recv->AddNew();
    recv->SetField("Subject", "second"s);
    recv->SetField("New", false);
    recv->Update();
    EXPECT_EQ(recv->Id(), 2);
    connection->Close();

    EXPECT_EQ(ReadRows("SELECT * FROM recv ORDER BY Id"),
              (Rows{"1|2026-12-08 09:05:03|+49 30 1234567|Rechnung für März – 東京|Fax from the tax office|fax "
                    "0001.pdf|A-1|1",
                    "2|NULL|NULL|second|NULL|NULL|NULL|0"}));
    EXPECT_EQ(ReadRows("SELECT * FROM send"),
              Rows{"1|2027-01-02 23:59:00|0221 98765|Reply|NULL|NULL|NULL|OK"});
}

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

// A store that fails after its row was saved (a stale file holds the row's file name) rolls the
// row back; the number must not come back, or every later store fails over the same file.
TEST_F(SqliteRecordset, NumbersOfRolledBackRowsAreUsedUpForGood) {
    const auto addRow = [](ArchiveConnection& connection, const std::string& table) {
        auto recordset = connection.OpenTable(table);
        recordset->AddNew();
        recordset->SetField("Subject", "s"s);
        recordset->Update();
        return recordset->Id();
    };
    for (const std::string table : {"recv", "send"}) {
        SCOPED_TRACE(table);
        auto connection = Open();
        std::vector<std::int64_t> ids;
        {
            ArchiveTransaction refused(*connection);
            ids.push_back(addRow(*connection, table));
        }  // rolled back, as a store that throws is
        connection->BeginTrans();
        ids.push_back(addRow(*connection, table));
        ids.push_back(addRow(*connection, table));
        connection->RollbackTrans();
        // A rollback that handed out nothing leaves the numbers as they are.
        connection->BeginTrans();
        connection->RollbackTrans();
        connection->BeginTrans();
        ids.push_back(addRow(*connection, table));
        connection->Close();  // an open transaction is rolled back: its number is used up too

        connection = Open();  // the used-up numbers are in the file, not in the connection
        {
            ArchiveTransaction stored(*connection);
            ids.push_back(addRow(*connection, table));
            stored.Commit();
        }
        connection->Close();
        EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 2, 3, 4, 5}));
        EXPECT_EQ(ReadRows("SELECT Id FROM " + table), Rows{"5"});
    }
}

TEST_F(SqliteRecordset, LaterUpdateSavesOnlyTheColumnsSetSinceToTheSameRow) {
    auto connection = Open();
    connection->Execute("INSERT INTO recv (Subject, FileId) VALUES ('other', 'O-1')", {});
    // Table and column names match regardless of case, as in SQL.
    auto recv = connection->OpenTable("Recv");
    recv->AddNew();
    recv->SetField("subject", "mine"s);
    recv->SetField("FileName", "a.pdf"s);
    recv->Update();
    ASSERT_EQ(recv->Id(), 2);

    // Changed by someone else meanwhile; the later save must not write the old Subject back.
    connection->Execute("UPDATE recv SET Subject = 'edited' WHERE Id = 2", {});
    recv->SetField("fileid", "F-2"s);
    recv->SetField("FILEID", "F-2b"s);
    recv->Update();
    EXPECT_EQ(recv->Id(), 2);
    recv->Update();  // nothing set since: nothing to save
    connection->Close();

    EXPECT_EQ(ReadRows("SELECT Id, Subject, FileName, FileId FROM recv ORDER BY Id"),
              (Rows{"1|other|NULL|O-1", "2|edited|a.pdf|F-2b"}));
}

TEST_F(SqliteRecordset, MisuseFailsWithADescriptionAndSavesNothing) {
    struct Case {
        std::function<void(ArchiveConnection&)> call;
        std::string description;
    };
    const Case cases[] = {
        {[](ArchiveConnection& c) { c.OpenTable("recvx"); }, "no such table: recvx"},
        // A view has columns too, but rows cannot be added to it.
        {[](ArchiveConnection& c) {
             c.Execute("CREATE VIEW recent AS SELECT * FROM recv", {});
             c.OpenTable("recent");
         },
         "no such table: recent"},
        {[](ArchiveConnection& c) { c.OpenTable("send")->SetField("New", true); }, "no such column: New"},
        {[](ArchiveConnection& c) { c.OpenTable("recv")->SetField("Colour", "red"s); }, "no such column: Colour"},
        {[](ArchiveConnection& c) { c.OpenTable("recv")->Update(); },
         "There is no row to update in recv; call AddNew first."},
        {[](ArchiveConnection& c) { c.OpenTable("send")->Id(); }, "No row of send has been saved yet."},
        {[](ArchiveConnection& c) {
             auto recv = c.OpenTable("recv");
             recv->AddNew();
             recv->SetField("Subject", "gone"s);
             recv->Update();
             c.Execute("DELETE FROM recv", {});
             recv->SetField("FileId", "F"s);
             recv->Update();
         },
         "Row 1 of recv no longer exists."},
    };
    for (const Case& c : cases) {
        auto connection = Open();
        EXPECT_EQ(FailureOf([&] { c.call(*connection); }), c.description);
        connection->Close();
    }
    EXPECT_EQ(ReadRows("SELECT count(*) FROM recv"), Rows{"0"});
    EXPECT_EQ(ReadRows("SELECT count(*) FROM send"), Rows{"0"});
}

TEST_F(SqliteRecordset, RowTheArchiveRefusesCanBeCorrectedAndSavedAgain) {
    auto connection = Open();
    auto recv = connection->OpenTable("recv");
    recv->AddNew();
    recv->SetField("Subject", "kept"s);
    recv->SetField("New", std::monostate{});
    try {
        recv->Update();
        ADD_FAILURE() << "a NULL was saved to a NOT NULL column";
    } catch (const HostError& e) {
        EXPECT_EQ(e.Number(), SQLITE_CONSTRAINT);
        EXPECT_EQ(e.Description(), "NOT NULL constraint failed: recv.New");
    }
    EXPECT_THROW(recv->Id(), HostError);

    recv->SetField("New", true);
    recv->Update();
    EXPECT_EQ(recv->Id(), 1);
    connection->Close();
    EXPECT_EQ(ReadRows("SELECT Id, Subject, New FROM recv"), Rows{"1|kept|1"});
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
