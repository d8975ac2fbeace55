// The archive engines the shared engine tests run against, each with a fresh empty archive, a
// reader of its own (as a viewer would see the rows) and the engine's queries. The PostgreSQL
// engine needs the throw-away server of run-with-postgres.sh ($VEXA_TEST_PG_URI); without it its
// tests are skipped.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "adapters/postgres/pg_connection.h"
#include "adapters/postgres/postgres_archive.h"
#include "adapters/postgres/postgres_queries.h"
#include "adapters/sqlite/sqlite_archive.h"
#include "adapters/sqlite/sqlite_queries.h"
#include "tests/sqlite/sqlite_test_support.h"

namespace vexa::test {

class EngineUnderTest {
public:
    virtual ~EngineUnderTest() = default;
    virtual std::unique_ptr<ArchiveConnection> Open() = 0;
    // Every row `sql` returns, columns joined by '|', NULL as "NULL".
    virtual std::vector<std::string> ReadRows(const std::string& sql) = 0;
    virtual std::unique_ptr<ArchiveQueries> Queries() = 0;
};

class SqliteUnderTest final : public EngineUnderTest {
public:
    SqliteUnderTest() { sqlite::CreateSqliteArchive(path_); }
    std::unique_ptr<ArchiveConnection> Open() override { return sqlite::SqliteArchiveEngine().Open(path_); }
    std::vector<std::string> ReadRows(const std::string& sql) override { return QueryRows(path_, sql); }
    std::unique_ptr<ArchiveQueries> Queries() override { return std::make_unique<sqlite::SqliteArchiveQueries>(path_); }

private:
    TempDir folder_;
    const std::string path_ = (folder_ / "Corvane.mdb").string();
};

inline std::string TestServerUri() {
    const char* uri = std::getenv("VEXA_TEST_PG_URI");
    return uri ? uri : "";
}

class PostgresUnderTest final : public EngineUnderTest {
public:
    // The archive of the test before is dropped, its large objects with it.
    static constexpr Oid kTimestampTz = 1184;
    PostgresUnderTest() : uri_(TestServerUri()), reader_(uri_) {
        reader_.Exec("DROP TABLE IF EXISTS recv, send, stored_files, vexa_seen CASCADE");
        reader_.Exec("SELECT lo_unlink(oid) FROM pg_largeobject_metadata");
        postgres::CreatePostgresArchive(uri_);
    }
    std::unique_ptr<ArchiveConnection> Open() override { return postgres::PostgresArchiveEngine(uri_).Open("ignored"); }
    std::vector<std::string> ReadRows(const std::string& sql) override {
        const postgres::PgResult result = reader_.Exec(sql);
        std::vector<std::string> rows;
        for (int row = 0; row < result.Rows(); ++row) {
            std::string line;
            for (int column = 0; column < PQnfields(result.Raw()); ++column) {
                if (column > 0) line += '|';
                // An instant is read in the reader's zone, as it was written: its offset says nothing more.
                std::string text = result.IsNull(row, column) ? "NULL" : result.Text(row, column);
                if (PQftype(result.Raw(), column) == kTimestampTz) text = text.substr(0, text.find_last_of("+-"));
                line += text;
            }
            rows.push_back(std::move(line));
        }
        return rows;
    }
    std::unique_ptr<ArchiveQueries> Queries() override {
        return std::make_unique<postgres::PostgresArchiveQueries>(uri_);
    }
    const std::string& Uri() const { return uri_; }
    postgres::PgConnection& Reader() { return reader_; }

private:
    std::string uri_;
    postgres::PgConnection reader_;
};

// A test of both engines: GetParam() names the engine.
class EngineTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "sqlite") {
            engine_ = std::make_unique<SqliteUnderTest>();
        } else {
            if (TestServerUri().empty()) GTEST_SKIP() << "no test server (run under run-with-postgres.sh)";
            engine_ = std::make_unique<PostgresUnderTest>();
        }
    }
    std::unique_ptr<ArchiveConnection> Open() { return engine_->Open(); }
    std::vector<std::string> ReadRows(const std::string& sql) { return engine_->ReadRows(sql); }

    std::unique_ptr<EngineUnderTest> engine_;
};

}  // namespace vexa::test
