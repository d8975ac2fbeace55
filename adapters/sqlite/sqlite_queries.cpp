#include "adapters/sqlite/sqlite_queries.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include <sqlite3.h>

#include "adapters/sqlite/sqlite_like.h"
#include "adapters/sqlite/sqlite_statement.h"
#include "archive/archive_names.h"
#include "archive/list_query_sql.h"

namespace vexa::sqlite {
namespace {

// As long as the archive engine waits for a viewer, a viewer waits for a writer.
constexpr int kBusyTimeoutMs = 5000;

// LIKE is this connection's own, ignoring the case of every letter (SQLite's knows ASCII letters
// only); dates are ISO 8601 text.
const ListSqlDialect kDialect{
    "Date",
    "New <> 0",
    "LIKE",
    "Date >= ?",
    // The whole day: before the next one begins, so that the index on Date serves.
    "Date < date(?, '+1 day')",
    // LIMIT -1 is no limit at all.
    std::int64_t{-1},
    // Text is compared byte by byte, and NULL is lower than any value, already.
    "",
    "",
    "",
};

ArchiveRow ReadRow(const SqliteStatement& statement, ArchiveTable table) {
    ArchiveRow row;
    row.id = std::stoll(statement.Text(0));
    row.date = statement.Text(1);
    row.number = statement.Text(2);
    row.subject = statement.Text(3);
    row.description = statement.Text(4);
    row.fileName = statement.Text(5);
    row.fileId = statement.Text(6);
    const std::string last = statement.Text(7);
    if (table == ArchiveTable::Recv) {
        row.isNew = !last.empty() && last != "0";
    } else {
        row.confirm = ConfirmStateOf(last);
    }
    return row;
}

}  // namespace

const ListSqlDialect& SqliteListDialect() { return kDialect; }

struct SqliteArchiveQueries::Handle {
    DatabaseHandle db;
    std::filesystem::path attach;  // the stored files, beside the archive file
    // SQLite's data_version counts the commits of other connections only; this one's own.
    std::int64_t ownChanges = 0;
};

SqliteArchiveQueries::SqliteArchiveQueries(const std::string& path) : handle_(std::make_unique<Handle>()) {
    handle_->attach = std::filesystem::path(path).parent_path() / kAttachFolder;
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    handle_->db.reset(raw);
    if (code != SQLITE_OK) throw SqliteFileError(handle_->db.get(), code, path);
    sqlite3_busy_timeout(handle_->db.get(), kBusyTimeoutMs);
    UseCaselessLike(handle_->db.get());
    // Reading the schema proves the file is a database before anything is asked of it.
    ExecuteOnFile(handle_->db.get(), "SELECT count(*) FROM sqlite_schema", path);
    EnsureListIndexes(handle_->db.get());
}

SqliteArchiveQueries::~SqliteArchiveQueries() = default;

std::vector<ArchiveRow> SqliteArchiveQueries::List(const ListQuery& query) {
    const auto rows = [this](const ListQuery& page) {
        std::vector<FieldValue> values;
        SqliteStatement statement(handle_->db.get(), ListRowsSql(kDialect, page, values));
        statement.BindAll(values);
        std::vector<ArchiveRow> read;
        while (statement.Step()) read.push_back(ReadRow(statement, page.table));
        return read;
    };
    return ReadPage(query, rows, [this](const ListQuery& counted) { return Count(counted); });
}

std::int64_t SqliteArchiveQueries::Count(const ListQuery& query) {
    std::vector<FieldValue> values;
    SqliteStatement statement(handle_->db.get(), ListCountSql(kDialect, query, values));
    statement.BindAll(values);
    return statement.Step() ? std::stoll(statement.Text(0)) : 0;
}

std::optional<ArchiveRow> SqliteArchiveQueries::Row(ArchiveTable table, std::int64_t id) {
    SqliteStatement statement(handle_->db.get(), ListSelectSql(kDialect, table) + " WHERE Id = ?");
    statement.BindAll({id});
    if (!statement.Step()) return std::nullopt;
    return ReadRow(statement, table);
}

void SqliteArchiveQueries::ClearNew(std::int64_t id) {
    SqliteStatement statement(handle_->db.get(), std::string("UPDATE ") + kRecvTable + " SET New = 0 WHERE Id = ?");
    statement.BindAll({id});
    statement.Run();
    ++handle_->ownChanges;
}

// The embedded archive has one reader: New is the row's own column, as the add-in keeps it.
void SqliteArchiveQueries::MarkNew(std::int64_t id) {
    SqliteStatement statement(handle_->db.get(), std::string("UPDATE ") + kRecvTable + " SET New = 1 WHERE Id = ?");
    statement.BindAll({id});
    statement.Run();
    ++handle_->ownChanges;
}

std::int64_t SqliteArchiveQueries::ClearNewAll(const ListQuery& query) {
    std::vector<FieldValue> values;
    const std::string ids = NewRecvIdsSql(kDialect, query, values);
    SqliteStatement statement(handle_->db.get(),
                              std::string("UPDATE ") + kRecvTable + " SET New = 0 WHERE Id IN (" + ids + ")");
    statement.BindAll(values);
    statement.Run();
    ++handle_->ownChanges;
    return sqlite3_changes64(handle_->db.get());
}

std::int64_t SqliteArchiveQueries::Version() {
    SqliteStatement statement(handle_->db.get(), "PRAGMA data_version");
    const std::int64_t others = statement.Step() ? std::stoll(statement.Text(0)) : 0;
    return others + handle_->ownChanges;
}

bool SqliteArchiveQueries::ReadStoredFile(const std::string& fileId, const std::function<void(std::string_view)>& sink) {
    // A name, never a path: nothing outside Attach is read.
    if (fileId.empty() || fileId.find('/') != std::string::npos || fileId == "." || fileId == "..") return false;
    const std::filesystem::path file = handle_->attach / fileId;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT || errno == ELOOP) return false;
        throw HostError(errno, "Can't read " + file.string());
    }
    std::vector<char> buffer(1u << 20);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            throw HostError(err, "Can't read " + file.string());
        }
        if (n == 0) break;
        try {
            sink(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        } catch (...) {
            ::close(fd);
            throw;
        }
    }
    ::close(fd);
    return true;
}

}  // namespace vexa::sqlite
