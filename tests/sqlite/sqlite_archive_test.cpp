// Opening and creating the SQLite archive: an existing archive opens and closes; anything else
// fails with the engine's own description and creates no file. Creating never touches what is
// already there and leaves nothing behind when it fails.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <fstream>

#include "adapters/sqlite/sqlite_archive.h"
#include "adapters/sqlite/sqlite_queries.h"
#include "archive/list_query_sql.h"
#include "host/host_error.h"
#include "tests/posix/file_size_limit.h"
#include "tests/posix/scoped_umask.h"
#include "tests/posix/temp_dir.h"
#include "tests/sqlite/sqlite_test_support.h"

namespace vexa::sqlite {
namespace {

using test::CountEntries;
using test::FailureOf;
using test::QueryRows;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

class SqliteArchive : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return (folder_ / name).string(); }

    std::string OpenFailure(const std::string& path) {
        return FailureOf([&] { SqliteArchiveEngine().Open(path); });
    }

    TempDir folder_;
};

TEST_F(SqliteArchive, ExistingArchiveOpensInWalModeAndCloses) {
    const std::string path = Path("Corvane.mdb");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE recv(Id INTEGER PRIMARY KEY AUTOINCREMENT)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    auto connection = SqliteArchiveEngine().Open(path);
    connection->Close();
    EXPECT_THROW(connection->Close(), HostError);

    // The write-ahead journal is a lasting property of the file.
    EXPECT_EQ(QueryRows(path, "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
}

TEST_F(SqliteArchive, MissingOrForeignFileFailsWithTheEnginesDescription) {
    EXPECT_EQ(OpenFailure(Path("Corvane.mdb")), "unable to open database file: " + Path("Corvane.mdb"));
    EXPECT_NE(FailureOf([&] { SqliteArchiveQueries(Path("Corvane.mdb")); }), "no error") << "the viewer's queries";
    EXPECT_FALSE(std::filesystem::exists(Path("Corvane.mdb")));

    std::ofstream(Path("notes.mdb")) << "this is not an archive, just some text that is long enough";
    EXPECT_EQ(OpenFailure(Path("notes.mdb")), "file is not a database: " + Path("notes.mdb"));
}

TEST_F(SqliteArchive, CreatedArchiveHasBothTablesInWalModeAndOpens) {
    const std::string path = Path("Corvane.mdb");
    CreateSqliteArchive(path);
    EXPECT_EQ(CountEntries(folder_.Path()), 1u) << "a temporary or journal file was left behind";

    struct Table {
        const char* name;
        std::vector<std::string> columns;  // name|type|not null|default|primary key
    };
    const Table tables[] = {
        {"recv",
         {"Id|INTEGER|0|NULL|1", "Date|TEXT|0|NULL|0", "Number|TEXT|0|NULL|0", "Subject|TEXT|0|NULL|0",
          "Description|TEXT|0|NULL|0", "FileName|TEXT|0|NULL|0", "FileId|TEXT|0|NULL|0", "New|INTEGER|1|1|0"}},
        {"send",
         {"Id|INTEGER|0|NULL|1", "Date|TEXT|0|NULL|0", "Number|TEXT|0|NULL|0", "Subject|TEXT|0|NULL|0",
          "Description|TEXT|0|NULL|0", "FileName|TEXT|0|NULL|0", "FileId|TEXT|0|NULL|0", "Confirm|TEXT|0|NULL|0"}},
    };
    for (const Table& table : tables) {
        SCOPED_TRACE(table.name);
        EXPECT_EQ(QueryRows(path, std::string("SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info('") +
                                      table.name + "')"),
                  table.columns);
        EXPECT_EQ(QueryRows(path, std::string("SELECT count(*) FROM ") + table.name), std::vector<std::string>{"0"});
    }
    EXPECT_EQ(QueryRows(path, "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
    SqliteArchiveEngine().Open(path)->Close();
}

TEST_F(SqliteArchive, CreateRefusesAnExistingFileAndLeavesItUnchanged) {
    const std::string path = Path("Corvane.mdb");
    const std::function<void()> existing[] = {
        [&] {
            CreateSqliteArchive(path);
            auto connection = SqliteArchiveEngine().Open(path);
            connection->Execute("INSERT INTO recv (Subject) VALUES ('kept')", {});
            connection->Close();
        },
        [&] { WriteBytes(path, "an unrelated text file of the user's"); },
        [&] { WriteBytes(path, ""); },
    };
    for (std::size_t i = 0; i < std::size(existing); ++i) {
        SCOPED_TRACE(i);
        std::filesystem::remove(path);
        existing[i]();
        const std::string before = ReadBytes(path);
        try {
            CreateSqliteArchive(path);
            ADD_FAILURE() << "an existing file was replaced";
        } catch (const HostError& e) {
            EXPECT_EQ(e.Number(), EEXIST);
            EXPECT_EQ(e.Description(), "Can't create " + path + ": File exists");
        }
        EXPECT_EQ(ReadBytes(path), before);
        EXPECT_EQ(CountEntries(folder_.Path()), 1u);
    }
}

TEST_F(SqliteArchive, FailedCreateLeavesNothingBehindAndCanBeRetried) {
    const std::string path = Path("Corvane.mdb");
    {
        // Smaller than one database page, so writing the tables fails part-way.
        test::FileSizeLimit limit(1024);
        const std::string failure = FailureOf([&] { CreateSqliteArchive(path); });
        EXPECT_NE(failure, "no error");
        EXPECT_TRUE(failure.ends_with(": " + path)) << failure;
    }
    EXPECT_EQ(CountEntries(folder_.Path()), 0u);

    CreateSqliteArchive(path);
    EXPECT_EQ(QueryRows(path, "SELECT name FROM sqlite_schema WHERE name IN ('recv', 'send') ORDER BY name"),
              (std::vector<std::string>{"recv", "send"}));

    const std::string elsewhere = Path("missing/Corvane.mdb");
    EXPECT_EQ(FailureOf([&] { CreateSqliteArchive(elsewhere); }),
              "Can't create " + elsewhere + ": No such file or directory");
    EXPECT_FALSE(std::filesystem::exists(Path("missing")));
}

// The archive holds the user's faxes: nobody else may read it or the logs beside it.
TEST_F(SqliteArchive, ArchiveAndItsLogFilesArePrivateWhateverTheUmask) {
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
        SCOPED_TRACE(mask);
        const std::string path = Path("Corvane.mdb");
        {
            test::ScopedUmask umask(mask);
            CreateSqliteArchive(path);
            auto connection = SqliteArchiveEngine().Open(path);
            connection->Execute("INSERT INTO recv (Subject) VALUES ('private')", {});
            EXPECT_EQ(test::PermissionBits(path), 0600u);
            EXPECT_EQ(test::PermissionBits(path + "-wal"), 0600u);
            EXPECT_EQ(test::PermissionBits(path + "-shm"), 0600u);
            connection->Close();
        }
        EXPECT_EQ(QueryRows(path, "SELECT Subject FROM recv"), std::vector<std::string>{"private"});
        std::filesystem::remove(path);
    }
}

TEST_F(SqliteArchive, CheckTellsAnArchiveOfOursFromOtherFilesAndLeavesThemAlone) {
    const auto sqliteFile = [&](const std::string& name, const char* schema) {
        const std::string path = Path(name.c_str());
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, schema, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        return path;
    };
    CreateSqliteArchive(Path("Corvane.mdb"));
    WriteBytes(Path("notes.mdb"), "this is not an archive, just some text that is long enough");
    WriteBytes(Path("empty.mdb"), "");
    const struct {
        std::string path;
        std::string failure;
    } cases[] = {
        {Path("Corvane.mdb"), "no error"},
        {Path("notes.mdb"), "file is not a database"},
        {Path("empty.mdb"), "no table recv: " + Path("empty.mdb")},
        {sqliteFile("other.db", "CREATE TABLE recv(Id INTEGER PRIMARY KEY, Date, Number, Subject, Description, "
                                "FileName, FileId, New); CREATE TABLE notes(text)"),
         "no table send: " + Path("other.db")},
        {sqliteFile("older.db", "CREATE TABLE RECV(id, date, number, subject, description, filename, fileid, new);"
                                "CREATE TABLE send(Id, Date, Number, Subject, Description, FileName, FileId)"),
         "no column Confirm in table send: " + Path("older.db")},
        {Path("missing.mdb"), "unable to open database file: " + Path("missing.mdb")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const bool existed = std::filesystem::exists(c.path);
        const std::string before = existed ? ReadBytes(c.path) : "";
        EXPECT_EQ(FailureOf([&] { CheckSqliteArchive(c.path); }), c.failure);
        EXPECT_EQ(std::filesystem::exists(c.path), existed);
        if (existed) {
            EXPECT_EQ(ReadBytes(c.path), before);
        }
    }
}

// An archive made before the lists' indexes gets them once a viewer opens it, and then every
// order of both lists, either way and to its last page, is read from an index, never sorted.
TEST_F(SqliteArchive, EveryOrderOfTheListsIsReadFromAnIndexOnceTheArchiveIsOpen) {
    const std::string path = Path("Corvane.mdb");
    CreateSqliteArchive(path);
    for (const auto& index : QueryRows(path, "SELECT name FROM sqlite_master WHERE type = 'index' AND name LIKE '%_by_%'")) {
        QueryRows(path, "DROP INDEX " + index);
    }
    SqliteArchiveQueries queries(path);
    for (const ArchiveTable table : {ArchiveTable::Recv, ArchiveTable::Send}) {
        for (const SortColumn column : {SortColumn::Date, SortColumn::Number, SortColumn::Subject, SortColumn::Description,
                                        SortColumn::FileName, SortColumn::State, SortColumn::Who}) {
            for (const bool ascending : {false, true}) {
                ListQuery query;
                query.table = table;
                query.sort = column;
                query.ascending = ascending;
                query.limit = 50;
                query.offset = 100000;
                std::vector<FieldValue> values;
                std::string plan;
                for (const auto& line : QueryRows(path, "EXPLAIN QUERY PLAN " + ListRowsSql(SqliteListDialect(), query, values))) {
                    plan += line + "\n";
                }
                EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos)
                    << ArchiveTableName(table) << " by " << SortColumnName(column) << (ascending ? " ascending" : "") << ":\n"
                    << plan;
            }
        }
    }
}

}  // namespace
}  // namespace vexa::sqlite
