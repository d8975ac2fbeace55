// What the store procedures rely on from any archive engine, checked on SQLite and on PostgreSQL
// alike: rows saved and read back, counts of changed rows, transactions and their rollback,
// numbers of rolled-back rows used up, values kept as data, and misuse refused.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/postgres/engine_under_test.h"

namespace vexa::test {
namespace {

using namespace std::string_literals;
using Rows = std::vector<std::string>;

class ArchiveEngineContract : public EngineTest {};

void AddAndSave(ArchiveRecordset& recordset, const std::vector<std::pair<std::string, FieldValue>>& fields) {
    recordset.AddNew();
    for (const auto& [column, value] : fields) recordset.SetField(column, value);
    recordset.Update();
}

std::int64_t AddRow(ArchiveConnection& connection, const std::string& table, const std::string& subject) {
    auto recordset = connection.OpenTable(table);
    AddAndSave(*recordset, {{"Subject", subject}});
    return recordset->Id();
}

TEST_P(ArchiveEngineContract, RowsSavedThroughARecordsetReadBackAsStored) {
    auto connection = Open();
    connection->Execute("INSERT INTO recv (Subject) VALUES ('other')", {});
    auto recv = connection->OpenTable("Recv");
    AddAndSave(*recv, {{"Date", LocalDateTime{2026, 12, 8, 9, 5, 3}},
                       {"number", "+49 30 1234567"s},
                       {"Subject", "Rechnung für März – 東京"s},
                       {"Description", "Fax from the tax office"s},
                       {"FileName", "fax 0001.pdf"s},
                       {"FileId", ""s}});
    EXPECT_EQ(recv->Id(), 2);
    // The later save writes only what was set since, to the same row, whatever the letter case:
    // a Subject edited meanwhile stays, and the other row is left alone.
    connection->Execute("UPDATE recv SET Subject = 'edited' WHERE Id = 2", {});
    recv->SetField("fileid", "R0000002.tif"s);
    recv->SetField("FILEID", "R0000002.pdf"s);
    recv->Update();
    EXPECT_EQ(recv->Id(), 2);
    recv->Update();  // nothing set since: nothing to save

    auto send = connection->OpenTable("send");
    AddAndSave(*send, {{"Date", LocalDateTime{987, 1, 2, 3, 4, 5}},
                       {"Number", "0221 98765"s},
                       {"Subject", "Reply"s},
                       {"Confirm", "Successful"s}});
    EXPECT_EQ(send->Id(), 1);
    connection->Close();

    // The numbers go on after reopening; a column never set stays NULL.
    connection = Open();
    recv = connection->OpenTable("recv");
    AddAndSave(*recv, {{"New", false}, {"Date", LocalDateTime{}}});
    EXPECT_EQ(recv->Id(), 3);
    AddAndSave(*recv, {{"Subject", "bare"s}});
    EXPECT_EQ(recv->Id(), 4);
    connection->Close();

    EXPECT_EQ(ReadRows("SELECT Id, Date, Number, Subject, Description, FileName, FileId, CAST(New AS INTEGER) "
                       "FROM recv ORDER BY Id"),
              (Rows{"1|NULL|NULL|other|NULL|NULL|NULL|1",
                    "2|2026-12-08 09:05:03|+49 30 1234567|edited|Fax from the tax office|fax 0001.pdf|R0000002.pdf|1",
                    "3|1899-12-30 00:00:00|NULL|NULL|NULL|NULL|NULL|0", "4|NULL|NULL|bare|NULL|NULL|NULL|1"}));
    EXPECT_EQ(ReadRows("SELECT Id, Date, Number, Subject, Confirm FROM send"),
              Rows{"1|0987-01-02 03:04:05|0221 98765|Reply|Successful"});
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
        {"UPDATE send SET Confirm = ? WHERE Number = ?", {""s, "200"s}, 2},
        // Neither a query nor a schema change counts the rows of the UPDATE before it.
        {"SELECT * FROM recv", {}, 0},
        {"CREATE INDEX recv_number ON recv (Number)", {}, 0},
        // The statements the store procedures run.
        {"UPDATE send SET Confirm = ? WHERE Id = ?", {"Successful"s, std::int64_t{2}}, 1},
        {"UPDATE recv SET FileId = FileId WHERE Id = ? AND FileId = ?", {std::int64_t{1}, "R1.tif"s}, 1},
        {"UPDATE recv SET FileId = FileId WHERE Id = ? AND FileId = ?", {std::int64_t{1}, "R2.tif"s}, 0},
        {"DELETE FROM send WHERE Id = ?; -- blanks, comments and semicolons may follow\n;", {std::int64_t{1}}, 1},
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
    // A value compared in a WHERE clause is one string, not a condition.
    EXPECT_EQ(connection->Execute("UPDATE send SET Subject = 'hit' WHERE Number = ?", {"1 OR 1=1"s}), 0);
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
        }  // rolled back, as a store that throws is
        connection->BeginTrans();
        ids.push_back(AddRow(*connection, table, "also refused"));
        connection->Execute("INSERT INTO " + table + " (Subject) VALUES ('refused too')", {});  // takes 3
        connection->RollbackTrans();
        // A rollback that handed out nothing leaves the numbers as they are.
        connection->BeginTrans();
        connection->RollbackTrans();
        connection->BeginTrans();
        ids.push_back(AddRow(*connection, table, "abandoned"));
        connection->Close();  // an open transaction is rolled back: its number is used up too

        connection = Open();  // the used-up numbers are in the archive, not in the connection
        {
            ArchiveTransaction stored(*connection);
            ids.push_back(AddRow(*connection, table, "stored"));
            EXPECT_EQ(ReadRows("SELECT count(*) FROM " + table), Rows{"0"}) << "seen before the commit";
            stored.Commit();
        }
        connection->Close();
        EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 2, 4, 5}));
        EXPECT_EQ(ReadRows("SELECT Id, Subject FROM " + table), Rows{"5|stored"});
    }
}

// A refused value is corrected and saved, on its own or inside a store's transaction, and the
// store goes on.
TEST_P(ArchiveEngineContract, ARefusedRowCanBeCorrectedAndSavedAgain) {
    Rows ids;
    for (const bool inTransaction : {false, true}) {
        SCOPED_TRACE(inTransaction ? "in a transaction" : "on its own");
        auto connection = Open();
        std::optional<ArchiveTransaction> transaction;
        if (inTransaction) transaction.emplace(*connection);
        auto recv = connection->OpenTable("recv");
        recv->AddNew();
        recv->SetField("Subject", "kept"s);
        recv->SetField("New", std::monostate{});
        EXPECT_NE(FailureOf([&] { recv->Update(); }), "no error");
        EXPECT_NE(FailureOf([&] { recv->Id(); }), "no error") << "a refused row has no number";
        EXPECT_NE(FailureOf([&] { connection->Execute("UPDATE recvx SET New = 0", {}); }), "no error");
        recv->SetField("New", true);
        recv->Update();
        if (transaction) transaction->Commit();
        ids.push_back(std::to_string(recv->Id()));
        connection->Close();
    }
    EXPECT_EQ(ReadRows("SELECT Id FROM recv ORDER BY Id"), ids);
    EXPECT_EQ(ReadRows("SELECT Subject, CAST(New AS INTEGER) FROM recv"), (Rows{"kept|1", "kept|1"}));
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
        {[](ArchiveConnection& c) { c.OpenTable("recv")->SetField("Colour", "red"s); }, "no such column: Colour"},
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
        {[](ArchiveConnection& c) {
             c.BeginTrans();
             c.CommitTrans();
             c.CommitTrans();
         },
         ""},
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
