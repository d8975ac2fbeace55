#include <fcntl.h>
#include <sqlite3.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>

#include "adapters/posix/posix_error.h"
#include "adapters/sqlite/sqlite_archive.h"
#include "adapters/sqlite/sqlite_statement.h"
#include "adapters/sqlite/sqlite_queries.h"

namespace vexa::sqlite {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE recv ("
    "Id INTEGER PRIMARY KEY AUTOINCREMENT, Date TEXT, Number TEXT, Subject TEXT, Description TEXT, "
    "FileName TEXT, FileId TEXT, New INTEGER NOT NULL DEFAULT 1);"
    "CREATE TABLE send ("
    "Id INTEGER PRIMARY KEY AUTOINCREMENT, Date TEXT, Number TEXT, Subject TEXT, Description TEXT, "
    "FileName TEXT, FileId TEXT, Confirm TEXT);";

// Removes the half-made archive, and the journal files SQLite keeps beside it, on every way out
// except the move into place.
class TemporaryArchive {
public:
    explicit TemporaryArchive(std::string path) : path_(std::move(path)) {}
    TemporaryArchive(const TemporaryArchive&) = delete;
    TemporaryArchive& operator=(const TemporaryArchive&) = delete;
    ~TemporaryArchive() {
        if (!armed_) return;
        for (const char* suffix : {"-wal", "-shm", "-journal", ""}) ::unlink((path_ + suffix).c_str());
    }

    const std::string& Path() const noexcept { return path_; }
    void Release() noexcept { armed_ = false; }

private:
    std::string path_;
    bool armed_ = true;
};

// An empty file under a name no one else uses, next to the target so the final rename stays on
// one file system. SQLite takes an empty file as an empty database.
TemporaryArchive CreateTemporaryFile(const std::filesystem::path& target, const std::string& context) {
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    std::random_device entropy;
    std::uniform_int_distribution<unsigned long long> pick;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            folder / ("." + target.filename().string() + ".new-" + std::to_string(pick(entropy)));
        int fd;
        do {
            fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) {
            // The umask may have taken the owner's own bits away; the mode is exactly 0600.
            const int changed = ::fchmod(fd, S_IRUSR | S_IWUSR);
            const int err = errno;
            ::close(fd);
            if (changed != 0) {
                ::unlink(candidate.c_str());
                throw posix::PosixError(context, err);
            }
            return TemporaryArchive(candidate.string());
        }
        if (errno != EEXIST) throw posix::PosixError(context, errno);
    }
    throw posix::PosixError(context, EEXIST);
}

// The single value a pragma answers with.
std::string QueryOnFile(sqlite3* db, const char* sql, const std::string& path) {
    std::string answer;
    const auto keepFirst = [](void* out, int columns, char** values, char**) {
        if (columns > 0 && values[0]) *static_cast<std::string*>(out) = values[0];
        return 0;
    };
    const int code = sqlite3_exec(db, sql, keepFirst, &answer, nullptr);
    if (code != SQLITE_OK) throw SqliteFileError(db, code, path);
    return answer;
}

void BuildArchive(const std::string& temporaryPath, const std::string& path) {
    sqlite3* raw = nullptr;
    const int code =
        sqlite3_open_v2(temporaryPath.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    DatabaseHandle db(raw);
    if (code != SQLITE_OK) throw SqliteFileError(db.get(), code, path);

    // journal_mode answers with the mode in force, which stays the old one when WAL is refused.
    if (QueryOnFile(db.get(), "PRAGMA journal_mode=WAL", path) != "wal") {
        throw HostError(SQLITE_CANTOPEN, "cannot use write-ahead logging: " + path);
    }
    ExecuteOnFile(db.get(), "PRAGMA synchronous=FULL", path);
    ExecuteOnFile(db.get(), "BEGIN IMMEDIATE", path);
    ExecuteOnFile(db.get(), kSchema, path);
    for (const std::string& index : ListIndexStatements(SqliteListDialect())) ExecuteOnFile(db.get(), index.c_str(), path);
    ExecuteOnFile(db.get(), "COMMIT", path);

    // Only the main file is moved into place, so everything must be in it, not in the log.
    if (QueryOnFile(db.get(), "PRAGMA wal_checkpoint(TRUNCATE)", path) != "0") {
        throw HostError(SQLITE_BUSY, "database is locked: " + path);
    }
    const int closed = sqlite3_close(db.get());
    if (closed != SQLITE_OK) throw SqliteFileError(db.get(), closed, path);
    static_cast<void>(db.release());
}

// Moves the finished file to `target` unless something appeared there meanwhile.
void MoveIntoPlace(const std::string& source, const std::string& target, const std::string& context) {
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return;
    // File systems without RENAME_NOREPLACE refuse the flag; a hard link also never replaces.
    if (errno != EINVAL && errno != ENOSYS) throw posix::PosixError(context, errno);
    if (::link(source.c_str(), target.c_str()) != 0) throw posix::PosixError(context, errno);
    ::unlink(source.c_str());
}

}  // namespace

void CreateSqliteArchive(const std::string& path) {
    const std::string context = "Can't create " + path;
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) throw posix::PosixError(context, EEXIST);
    if (errno != ENOENT) throw posix::PosixError(context, errno);

    TemporaryArchive temporary = CreateTemporaryFile(path, context);
    BuildArchive(temporary.Path(), path);
    MoveIntoPlace(temporary.Path(), path, context);
    temporary.Release();

    // Makes the new name durable; the archive is complete either way, so a failure is not reported.
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) folder = ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace vexa::sqlite
