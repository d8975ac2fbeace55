// The archive's queries on SQLite, for the viewer and `vexa list`: a connection of their own to
// an existing archive file, which may be open in a writer at the same time.
#pragma once

#include <memory>
#include <string>

#include "archive/archive_queries.h"
#include "archive/list_query_sql.h"

namespace vexa::sqlite {

// The few words of this engine's SQL for the lists, which its layout indexes for.
const ListSqlDialect& SqliteListDialect();

class SqliteArchiveQueries final : public ArchiveQueries {
public:
    // Opens the archive at `path` (read-write, for ClearNew); HostError when it cannot.
    explicit SqliteArchiveQueries(const std::string& path);
    ~SqliteArchiveQueries() override;
    SqliteArchiveQueries(const SqliteArchiveQueries&) = delete;
    SqliteArchiveQueries& operator=(const SqliteArchiveQueries&) = delete;

    std::vector<ArchiveRow> List(const ListQuery& query) override;
    std::int64_t Count(const ListQuery& query) override;
    std::optional<ArchiveRow> Row(ArchiveTable table, std::int64_t id) override;
    void ClearNew(std::int64_t id) override;
    void MarkNew(std::int64_t id) override;
    std::int64_t ClearNewAll(const ListQuery& query) override;
    // One New for everyone, and no record of who archived a row.
    bool Shared() const override { return false; }
    std::int64_t Version() override;
    // From the Attach folder beside the archive file.
    bool ReadStoredFile(const std::string& fileId, const std::function<void(std::string_view)>& sink) override;

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

}  // namespace vexa::sqlite
