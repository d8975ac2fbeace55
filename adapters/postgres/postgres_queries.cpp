#include "adapters/postgres/postgres_queries.h"

#include <chrono>

#include "adapters/postgres/pg_connection.h"
#include "adapters/postgres/postgres_session.h"
#include "adapters/postgres/read_state_layout.h"
#include "archive/archive_names.h"
#include "archive/list_query_sql.h"

namespace vexa::postgres {
namespace {

// A received fax is New for the person asking (the connection's vexa.person) while its New column
// says so and that person has not opened it; the index of New rows serves.
constexpr const char* kUnseen =
    "NOT EXISTS (SELECT 1 FROM vexa_seen s WHERE s.person = current_setting('vexa.person') "
    "AND s.tbl = 'recv' AND s.id = recv.id)";
constexpr const char* kNewForPerson =
    "(new AND NOT EXISTS (SELECT 1 FROM vexa_seen s WHERE s.person = current_setting('vexa.person') "
    "AND s.tbl = 'recv' AND s.id = recv.id))";

// date is a timestamp, read back in the archive's text form; ILIKE ignores the case of every letter.
const ListSqlDialect kDialect{
    "to_char(date, 'YYYY-MM-DD HH24:MI:SS')",
    "new",
    "ILIKE",
    "date >= ?::date",
    // The whole day: before the next one begins, so that the index on date serves.
    "date < ?::date + 1",
    // LIMIT NULL is no limit at all.
    FieldValue(),
    // Byte by byte whatever the database's own collation, as the embedded archive orders text;
    // and NULL placed as there, lower than any text.
    " COLLATE \"C\"",
    " NULLS FIRST",
    " NULLS LAST",
    kNewForPerson,
    kUnseen,
    "who",
};

ArchiveRow ReadRow(const PgResult& result, int index, ArchiveTable table) {
    ArchiveRow row;
    row.id = std::stoll(result.Text(index, 0));
    row.date = result.Text(index, 1);
    row.number = result.Text(index, 2);
    row.subject = result.Text(index, 3);
    row.description = result.Text(index, 4);
    row.fileName = result.Text(index, 5);
    row.fileId = result.Text(index, 6);
    if (table == ArchiveTable::Recv) {
        row.isNew = result.Text(index, 7) == "t";
    } else {
        row.confirm = ConfirmStateOf(result.Text(index, 7));
    }
    row.who = result.Text(index, 8);
    return row;
}

}  // namespace

const ListSqlDialect& PostgresListDialect() { return kDialect; }

struct PostgresArchiveQueries::Handle {
    explicit Handle(const std::string& uri) : pg(uri) {
        EnsureReadStateLayout(pg);
        pg.Exec("LISTEN vexa_archive");
    }

    // Reads only (read state changes are single idempotent statements), so a dropped connection is simply made
    // again and the statement repeated; changes missed meanwhile count as one.
    PgResult Run(const std::string& sql, const std::vector<FieldValue>& values) {
        for (int attempt = 0;; ++attempt) {
            try {
                if (pg.Lost()) {
                    pg.Reconnect();
                    pg.Exec("LISTEN vexa_archive");
                    ++version;
                }
                return pg.ExecWithMarks(sql, values);
            } catch (const PgError& e) {
                if (!(e.ConnectionLost() || e.Retryable()) || attempt >= 3) throw;
                Backoff(attempt);
            }
        }
    }

    PgConnection pg;
    std::int64_t version = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
};

PostgresArchiveQueries::PostgresArchiveQueries(const std::string& uri) : handle_(std::make_unique<Handle>(uri)) {}

PostgresArchiveQueries::~PostgresArchiveQueries() = default;

std::vector<ArchiveRow> PostgresArchiveQueries::List(const ListQuery& query) {
    const auto rows = [this](const ListQuery& page) {
        std::vector<FieldValue> values;
        const std::string sql = ListRowsSql(kDialect, page, values);
        const PgResult result = handle_->Run(sql, values);
        std::vector<ArchiveRow> read;
        read.reserve(static_cast<std::size_t>(result.Rows()));
        for (int index = 0; index < result.Rows(); ++index) read.push_back(ReadRow(result, index, page.table));
        return read;
    };
    return ReadPage(query, rows, [this](const ListQuery& counted) { return Count(counted); });
}

std::int64_t PostgresArchiveQueries::Count(const ListQuery& query) {
    std::vector<FieldValue> values;
    const std::string sql = ListCountSql(kDialect, query, values);
    return std::stoll(handle_->Run(sql, values).Text(0, 0));
}

std::optional<ArchiveRow> PostgresArchiveQueries::Row(ArchiveTable table, std::int64_t id) {
    const PgResult result = handle_->Run(ListSelectSql(kDialect, table) + " WHERE id = ?", {id});
    if (result.Rows() == 0) return std::nullopt;
    return ReadRow(result, 0, table);
}

// Read state is the person's own: the rows themselves do not change, so no other viewer hears of
// it, and this one counts it itself.
void PostgresArchiveQueries::ClearNew(std::int64_t id) {
    handle_->Run("INSERT INTO vexa_seen (person, tbl, id) SELECT current_setting('vexa.person'), 'recv', id "
                 "FROM recv WHERE id = ? AND new ON CONFLICT DO NOTHING",
                 {id});
    ++handle_->version;
}

void PostgresArchiveQueries::MarkNew(std::int64_t id) {
    // A row whose New column was cleared (archived before read state was per person, or copied
    // as read) becomes New again for the person asking only: everyone else who has read
    // anything keeps it as read. One statement, so it is repeated whole after a lost connection.
    handle_->Run("WITH mine AS (DELETE FROM vexa_seen WHERE person = current_setting('vexa.person') "
                 "AND tbl = 'recv' AND id = ?), "
                 "reopened AS (UPDATE recv SET new = true WHERE id = ? AND NOT new RETURNING id) "
                 "INSERT INTO vexa_seen (person, tbl, id) SELECT others.person, 'recv', reopened.id FROM reopened, "
                 "(SELECT DISTINCT person FROM vexa_seen WHERE person <> current_setting('vexa.person')) others "
                 "ON CONFLICT DO NOTHING",
                 {id, id});
    ++handle_->version;
}

std::int64_t PostgresArchiveQueries::ClearNewAll(const ListQuery& query) {
    std::vector<FieldValue> values;
    const std::string ids = NewRecvIdsSql(kDialect, query, values);
    const std::int64_t cleared =
        handle_->Run("INSERT INTO vexa_seen (person, tbl, id) SELECT current_setting('vexa.person'), 'recv', ids.id FROM (" +
                         ids + ") ids ON CONFLICT DO NOTHING",
                     values)
            .Changed();
    ++handle_->version;
    return cleared;
}

std::int64_t PostgresArchiveQueries::Version() {
    PgConnection& pg = handle_->pg;
    if (pg.Lost() || PQconsumeInput(pg.Get()) == 0) {
        // The run below reconnects and counts what may have been missed meanwhile.
        handle_->Run("SELECT 1", {});
        return handle_->version;
    }
    while (PGnotify* notify = PQnotifies(pg.Get())) {
        PQfreemem(notify);
        ++handle_->version;
    }
    return handle_->version;
}

bool PostgresArchiveQueries::ReadStoredFile(const std::string& fileId,
                                            const std::function<void(std::string_view)>& sink) {
    if (handle_->pg.Lost()) handle_->Run("SELECT 1", {});
    return ReadLargeObjectFile(handle_->pg, false, fileId, sink);
}

}  // namespace vexa::postgres
