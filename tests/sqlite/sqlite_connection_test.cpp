// What only SQLite's connections show (what any engine's connection does is checked on both in
// tests/postgres/archive_engine_contract_test.cpp): values in the archive's own forms, SQLite's
// numbers and words for what it refuses, and a viewer that does not hold up a store.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <limits>
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

class SqliteConnection : public test::ArchiveTest {};

TEST_F(SqliteConnection, RejectedStatementFailsWithSqlitesDescriptionAndChangesNothing) {
    auto connection = Open();
    connection->Execute("INSERT INTO recv (Subject) VALUES ('kept')", {});
    connection->Execute("INSERT INTO send (Subject) VALUES ('kept')", {});
    struct Case {
        std::string statement;
        std::vector<FieldValue> parameters;
        std::int32_t number;
        std::string description;
    };
    const Case cases[] = {
        {"UPDAT recv SET New = 0", {}, SQLITE_ERROR, "near \"UPDAT\": syntax error"},
        {"UPDATE recvx SET New = 0", {}, SQLITE_ERROR, "no such table: recvx"},
        {"UPDATE recv SET Colour = 0", {}, SQLITE_ERROR, "no such column: Colour"},
        {"UPDATE recv SET New = NULL", {}, SQLITE_CONSTRAINT, "NOT NULL constraint failed: recv.New"},
        {"INSERT INTO recv (Id) VALUES (1)", {}, SQLITE_CONSTRAINT, "UNIQUE constraint failed: recv.Id"},
        {"UPDATE recv SET Subject = 'lost'; DROP TABLE send", {}, SQLITE_ERROR,
         "only one statement can be run at a time"},
        {"DELETE FROM recv; -- tidy up\nDELETE FROM send", {}, SQLITE_ERROR, "only one statement can be run at a time"},
        {"DELETE FROM recv /* a comment */ ; DELETE FROM send", {}, SQLITE_ERROR,
         "only one statement can be run at a time"},
        {"DELETE FROM recv;\0DELETE FROM send"s, {}, SQLITE_ERROR, "only one statement can be run at a time"},
        {"  -- nothing at all\n", {}, SQLITE_MISUSE, "the statement is empty"},
        {"UPDATE recv SET New = ? WHERE Id = ?", {std::int64_t{0}}, SQLITE_RANGE,
         "wrong number of parameters: 2 expected, 1 given"},
        {"DELETE FROM recv", {std::int64_t{1}}, SQLITE_RANGE, "wrong number of parameters: 0 expected, 1 given"},
    };
    for (const Case& c : cases) {
        try {
            connection->Execute(c.statement, c.parameters);
            ADD_FAILURE() << "ran: " << c.statement;
        } catch (const HostError& e) {
            EXPECT_EQ(e.Number(), c.number) << c.statement;
            EXPECT_EQ(e.Description(), c.description) << c.statement;
        }
    }
    connection->Close();
    EXPECT_EQ(ReadRows("SELECT Id, Subject, New FROM recv"), Rows{"1|kept|1"});
    EXPECT_EQ(ReadRows("SELECT Id, Subject FROM send"), Rows{"1|kept"});
}

// Any engine keeps values as data (checked on both); SQLite keeps each in the archive's own form.
TEST_F(SqliteConnection, ValuesAreStoredInTheArchivesForms) {
    auto connection = Open();
    // Without a declared type the column keeps each value as it was bound.
    connection->Execute("CREATE TABLE probe (Value)", {});
    connection->Execute("INSERT INTO probe VALUES (NULL)", {});
    struct Case {
        FieldValue value;
        std::string stored;  // typeof|value
    };
    const Case cases[] = {
        {LocalDateTime{2026, 12, 8, 9, 5, 3}, "text|2026-12-08 09:05:03"},
        {LocalDateTime{987, 1, 2, 3, 4, 5}, "text|0987-01-02 03:04:05"},
        {LocalDateTime{}, "text|1899-12-30 00:00:00"},
        {true, "integer|1"},
        {false, "integer|0"},
        {std::numeric_limits<std::int64_t>::max(), "integer|9223372036854775807"},
        {std::int64_t{-42}, "integer|-42"},
        {std::monostate{}, "null|NULL"},
        {""s, "text|"},
        {"1 OR 1=1"s, "text|1 OR 1=1"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(connection->Execute("UPDATE probe SET Value = ?", {c.value}), 1);
        EXPECT_EQ(ReadRows("SELECT typeof(Value), Value FROM probe"), Rows{c.stored});
    }
    connection->Close();
}

TEST_F(SqliteConnection, TransactionCallsOutOfTurnFailWithSqlitesDescription) {
    struct Case {
        std::function<void(ArchiveConnection&)> before;
        std::function<void(ArchiveConnection&)> call;
        std::string description;
    };
    const auto begin = [](ArchiveConnection& c) { c.BeginTrans(); };
    const auto nothing = [](ArchiveConnection&) {};
    const Case cases[] = {
        {begin, begin, "cannot start a transaction within a transaction"},
        {nothing, [](ArchiveConnection& c) { c.CommitTrans(); }, "cannot commit - no transaction is active"},
        {nothing, [](ArchiveConnection& c) { c.RollbackTrans(); }, "cannot rollback - no transaction is active"},
        {[](ArchiveConnection& c) {
             c.BeginTrans();
             c.CommitTrans();
         },
         [](ArchiveConnection& c) { c.CommitTrans(); }, "cannot commit - no transaction is active"},
    };
    for (const Case& c : cases) {
        auto connection = Open();
        c.before(*connection);
        EXPECT_EQ(FailureOf([&] { c.call(*connection); }), c.description);
        connection->Close();
    }
}

TEST_F(SqliteConnection, AViewerReadingTheArchiveDoesNotHoldUpAStore) {
    sqlite3* rawViewer = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path_.c_str(), &rawViewer, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    std::unique_ptr<sqlite3, test::CloseRawDatabase> viewer(rawViewer);
    ASSERT_EQ(sqlite3_exec(viewer.get(), "BEGIN; SELECT count(*) FROM recv;", nullptr, nullptr, nullptr), SQLITE_OK);

    auto connection = Open();
    connection->BeginTrans();
    connection->Execute("INSERT INTO recv (Subject) VALUES ('stored')", {});
    connection->CommitTrans();
    connection->Close();
    EXPECT_EQ(ReadRows("SELECT Subject FROM recv"), Rows{"stored"});
}

}  // namespace
}  // namespace vexa::sqlite
