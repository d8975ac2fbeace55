// The archive's queries on a PostgreSQL server, for the viewer and `vexa list`: a connection of
// their own, beside the writers of every installation that shares the archive.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "archive/archive_queries.h"
#include "archive/list_query_sql.h"

namespace vexa::postgres {

// The few words of this engine's SQL for the lists, which its layout indexes for.
const ListSqlDialect& PostgresListDialect();

class PgConnection;

class PostgresArchiveQueries final : public ArchiveQueries {
public:
    // Connects to the archive at `uri` (a libpq connection string); HostError when it cannot.
    explicit PostgresArchiveQueries(const std::string& uri);
    ~PostgresArchiveQueries() override;
    PostgresArchiveQueries(const PostgresArchiveQueries&) = delete;
    PostgresArchiveQueries& operator=(const PostgresArchiveQueries&) = delete;

    std::vector<ArchiveRow> List(const ListQuery& query) override;
    std::int64_t Count(const ListQuery& query) override;
    std::optional<ArchiveRow> Row(ArchiveTable table, std::int64_t id) override;
    // New is the person's own (the installation's user and host): these mark what that person
    // has read.
    void ClearNew(std::int64_t id) override;
    void MarkNew(std::int64_t id) override;
    std::int64_t ClearNewAll(const ListQuery& query) override;
    bool Shared() const override { return true; }
    // Counts the change notifications the server delivers once a writer's transaction commits,
    // from a start taken from the clock so that a restarted viewer never repeats an old number.
    std::int64_t Version() override;

    // The stored attachment file `fileId`, piece by piece (1 MiB at most each) to `sink`; false
    // when there is none. For the viewer, where an embedded archive reads the Attach folder.
    bool ReadStoredFile(const std::string& fileId, const std::function<void(std::string_view)>& sink) override;

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

}  // namespace vexa::postgres
