// What the store procedures rely on from any archive engine, checked on SQLite and on PostgreSQL
// alike: rows saved and read back, counts of changed rows, transactions and their rollback,
// numbers of rolled-back rows used up, values kept as data, and misuse refused.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/postgres/engine_under_test.h"

namespace vexa::test {
namespace {

using namespace std::string_literals;
using Rows = std::vector<std::string>;

class ArchiveEngineContract : public EngineTest {};

std::int64_t AddRow(ArchiveConnection& connection, const std::string& table, const std::string& subject) {
    auto recordset = connection.OpenTable(table);
    recordset->AddNew();
    recordset->SetField("Subject", subject);
    recordset->Update();
    return recordset->Id();
}

TEST_P(ArchiveEngineContract, RowsSavedThroughARecordsetReadBackAsStored) {
    auto connection = Open();
    auto recv = connection->OpenTable("Recv");
    recv->AddNew();
    recv->SetField("Date", LocalDateTime{2026, 12, 8, 9, 5, 3});
    recv->SetField("number", "+49 30 1234567"s);
    recv->SetField("Subject", "Rechnung für März – 東京"s);
    recv->SetField("FileId", ""s);
    recv->Update();
    EXPECT_EQ(recv->Id(), 1);
    // The later save writes only what was set since, to the same row, whatever the letter case.
    connection->Execute("UPDATE recv SET Subject = 'edited' WHERE Id = 1", {});
    recv->SetField("fileid", "R0000001.tif"s);
    recv->SetField("FILEID", "R0000001.pdf"s);
    recv->Update();
    EXPECT_EQ(recv->Id(), 1);

    auto send = connection->OpenTable("send");
    send->AddNew();
    send->SetField("Date", LocalDateTime{987, 1, 2, 3, 4, 5});
    send->SetField("Confirm", "Successful"s);
    send->Update();
    recv->AddNew();
    recv->SetField("New", false);
    recv->SetField("Date", LocalDateTime{});
    recv->Update();
    connection->Close();

    EXPECT_EQ(ReadRows("SELECT Id, Date, Number, Subject, FileId, CAST(New AS INTEGER) FROM recv ORDER BY Id"),
              (Rows{"1|2026-12-08 09:05:03|+49 30 1234567|edited|R0000001.pdf|1", "2|1899-12-30 00:00:00|NULL|NULL|NULL|0"}));
    EXPECT_EQ(ReadRows("SELECT Id, Date, Confirm FROM send"), Rows{"1|0987-01-02 03:04:05|Successful"});
}

TEST_P(ArchiveEngineContract, ExecuteReturnsTheRowsEachStatementChanged) {
    auto connection = Open();
    const struct {
        std::string statement;
        std::vector<FieldValue> parameters;
        std::int32_t changed;
    } steps[] = {
        {"INSERT INTO recv (Number, FileId) VALUES (?, ?)", {"100"s, "R1.tif"s}, 1},
        {"INSERT INTO send (Number) VALUES (?), (?)", {"200"s, "200"s}, 2},
        {"UPDATE recv SET New = ? WHERE Number = ?", {false, "100"s}, 1},
        {"SELECT * FROM recv", {}, 0},
        // The statements the store procedures run.
        {"UPDATE send SET Confirm = ? WHERE Id = ?", {"Successful"s, std::int64_t{2}}, 1},
        {"UPDATE recv SET FileId = FileId WHERE Id = ? AND FileId = ?", {std::int64_t{1}, "R1.tif"s}, 1},
        {"UPDATE recv SET FileId = FileId WHERE Id = ? AND FileId = ?", {std::int64_t{1}, "R2.tif"s}, 0},
        {"DELETE FROM send WHERE Id = ?", {std::int64_t{1}}, 1},
        {"UPDATE send SET Subject = '?' WHERE Number = ? -- a '?' in text or a comment is no placeholder",
         {"200"s},
         1},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(connection->Execute(step.statement, step.parameters), step.changed) << step.statement;
    }
    connection->Close();
    EXPECT_EQ(ReadRows("SELECT Id, CAST(New AS INTEGER), FileId FROM recv"), Rows{"1|0|R1.tif"});
    EXPECT_EQ(ReadRows("SELECT Id, Subject, Confirm FROM send"), Rows{"2|?|Successful"});
}

TEST_P(ArchiveEngineContract, ValuesAreKeptAsDataNeverReadAsSql) {
    auto connection = Open();
    connection->Execute("INSERT INTO send (Number) VALUES ('555')", {});
    for (const std::string& value : {"1 OR 1=1"s, "\"; DROP TABLE send; --"s, "'); DELETE FROM send; --"s, "$1 ?"s,
                                    "Fax aus Zürich – 東京 ✓"s, ""s}) {
        ASSERT_EQ(connection->Execute("UPDATE send SET Subject = ? WHERE Id = 1", {value}), 1);
        EXPECT_EQ(ReadRows("SELECT Subject FROM send"), Rows{value});
    }
    EXPECT_EQ(connection->Execute("UPDATE send SET Subject = 'hit' WHERE Number = ?", {"555' OR '1'='1"s}), 0);
    connection->Close();
    EXPECT_EQ(ReadRows("SELECT Number, Subject FROM send"), Rows{"555|"});
}

// A store refused after its row was saved rolls the row back; its number must not come back, or
// the next store would fail over the same stale file name.
TEST_P(ArchiveEngineContract, RolledBackRowsVanishAndTheirNumbersStayUsedUp) {
    for (const std::string table : {"recv", "send"}) {
        SCOPED_TRACE(table);
        auto connection = Open();
        std::vector<std::int64_t> ids;
        {
            ArchiveTransaction refused(*connection);
            ids.push_back(AddRow(*connection, table, "refused"));
        }
        connection->BeginTrans();
        ids.push_back(AddRow(*connection, table, "also refused"));
        connection->RollbackTrans();
        connection->BeginTrans();
        ids.push_back(AddRow(*connection, table, "abandoned"));
        connection->Close();  // an open transaction is rolled back

        connection = Open();
        connection->BeginTrans();
        ids.push_back(AddRow(*connection, table, "stored"));
        EXPECT_EQ(ReadRows("SELECT count(*) FROM " + table), Rows{"0"}) << "seen before the commit";
        connection->CommitTrans();
        connection->Close();
        EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 2, 3, 4}));
        EXPECT_EQ(ReadRows("SELECT Id, Subject FROM " + table), Rows{"4|stored"});
    }
}

// Inside a store's transaction a refused value is corrected and saved, and the store goes on.
TEST_P(ArchiveEngineContract, ARefusedStatementLeavesTheTransactionUsable) {
    auto connection = Open();
    ArchiveTransaction transaction(*connection);
    auto recv = connection->OpenTable("recv");
    recv->AddNew();
    recv->SetField("Subject", "kept"s);
    recv->SetField("New", std::monostate{});
    EXPECT_NE(FailureOf([&] { recv->Update(); }), "no error");
    EXPECT_NE(FailureOf([&] { connection->Execute("UPDATE recvx SET New = 0", {}); }), "no error");
    recv->SetField("New", true);
    recv->Update();
    transaction.Commit();
    connection->Close();
    EXPECT_EQ(ReadRows("SELECT Subject, CAST(New AS INTEGER) FROM recv"), Rows{"kept|1"});
}

TEST_P(ArchiveEngineContract, MisuseFailsWithADescriptionAndSavesNothing) {
    const struct {
        std::function<void(ArchiveConnection&)> call;
        std::string description;  // empty: the engine's own words
    } cases[] = {
        {[](ArchiveConnection& c) { c.OpenTable("recvx"); }, "no such table: recvx"},
        {[](ArchiveConnection& c) {
             c.Execute("CREATE VIEW recent AS SELECT * FROM recv", {});
             c.OpenTable("recent");
         },
         "no such table: recent"},
        {[](ArchiveConnection& c) { c.OpenTable("send")->SetField("New", true); }, "no such column: New"},
        {[](ArchiveConnection& c) { c.OpenTable("recv")->Update(); },
         "There is no row to update in recv; call AddNew first."},
        {[](ArchiveConnection& c) { c.OpenTable("send")->Id(); }, "No row of send has been saved yet."},
        {[](ArchiveConnection& c) {
             auto recv = c.OpenTable("recv");
             recv->AddNew();
             recv->Update();
             c.Execute("DELETE FROM recv", {});
             recv->SetField("FileId", "F"s);
             recv->Update();
         },
         "Row 1 of recv no longer exists."},
        {[](ArchiveConnection& c) { c.Execute("UPDATE recv SET Subject = 'lost'; DROP TABLE send", {}); }, ""},
        {[](ArchiveConnection& c) { c.Execute("DELETE FROM recv WHERE Id = ?", {}); }, ""},
        {[](ArchiveConnection& c) { c.Execute("  -- nothing at all\n", {}); }, ""},
        {[](ArchiveConnection& c) { c.Execute("UPDATE recv SET Colour = 0", {}); }, ""},
        {[](ArchiveConnection& c) {
             c.BeginTrans();
             c.BeginTrans();
         },
         ""},
        {[](ArchiveConnection& c) { c.CommitTrans(); }, ""},
        {[](ArchiveConnection& c) { c.RollbackTrans(); }, ""},
    };
    for (const auto& c : cases) {
        auto connection = Open();
        const std::string failure = FailureOf([&] { c.call(*connection); });
        if (c.description.empty()) {
            EXPECT_NE(failure, "no error");
        } else {
            EXPECT_EQ(failure, c.description);
        }
        connection->Close();
    }
    EXPECT_EQ(ReadRows("SELECT count(*) FROM recv"), Rows{"0"});
    EXPECT_EQ(ReadRows("SELECT count(*) FROM send"), Rows{"0"});
}

TEST_P(ArchiveEngineContract, EveryCallAfterCloseFails) {
    auto connection = Open();
    auto recordset = connection->OpenTable("recv");
    recordset->AddNew();
    connection->Close();
    const std::function<void()> calls[] = {
        [&] { connection->Close(); },
        [&] { connection->OpenTable("recv"); },
        [&] { connection->Execute("DELETE FROM recv", {}); },
        [&] { connection->BeginTrans(); },
        [&] { connection->CommitTrans(); },
        [&] { connection->RollbackTrans(); },
        [&] { recordset->Update(); },
    };
    for (const auto& call : calls) EXPECT_EQ(FailureOf(call), "The archive connection is closed.");
    EXPECT_EQ(ReadRows("SELECT count(*) FROM recv"), Rows{"0"});
}

INSTANTIATE_TEST_SUITE_P(Engines, ArchiveEngineContract, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace vexa::test
