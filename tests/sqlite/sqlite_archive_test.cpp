// Opening the SQLite archive: an existing archive opens and closes; anything else fails with the
// engine's own description and creates no file.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "adapters/sqlite/sqlite_archive.h"
#include "host/host_error.h"

namespace vexa {
namespace {

class SqliteArchive : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("vexa-sqlite-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string Path(const char* name) const { return (folder_ / name).string(); }

    std::string OpenFailure(const std::string& path) {
        try {
            SqliteArchiveEngine().Open(path);
        } catch (const HostError& e) {
            return e.Description();
        }
        return "opened";
    }

    std::filesystem::path folder_;
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
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &statement, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "wal");
    sqlite3_finalize(statement);
    sqlite3_close(db);
}

TEST_F(SqliteArchive, MissingOrForeignFileFailsWithTheEnginesDescription) {
    EXPECT_EQ(OpenFailure(Path("Corvane.mdb")), "unable to open database file: " + Path("Corvane.mdb"));
    EXPECT_FALSE(std::filesystem::exists(Path("Corvane.mdb")));

    std::ofstream(Path("notes.mdb")) << "this is not an archive, just some text that is long enough";
    EXPECT_EQ(OpenFailure(Path("notes.mdb")), "file is not a database: " + Path("notes.mdb"));
}

}  // namespace
}  // namespace vexa
