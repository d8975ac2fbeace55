// Attachment files kept in the archive database as large objects, written and read 1 MiB at a
// time so that a 256 MB fax costs no more memory than a small one.

#include <fcntl.h>
#include <libpq/libpq-fs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adapters/postgres/postgres_archive.h"
#include "adapters/postgres/postgres_session.h"

namespace vexa::postgres {
namespace {

constexpr std::size_t kChunk = 1 << 20;

PgError LargeObjectError(PGconn* conn, const std::string& fileId) {
    std::string message = PQerrorMessage(conn);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    return PgError(PQstatus(conn) == CONNECTION_BAD ? kStateLost : "58000",
                   "Can't store or read the file " + fileId + " in the archive: " + message);
}

class LocalFile {
public:
    explicit LocalFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0) throw PgError("58030", "Can't read " + path + ": " + std::strerror(errno));
    }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    ~LocalFile() { ::close(fd_); }
    int Get() const noexcept { return fd_; }

private:
    int fd_;
};

// A large object descriptor, closed on every way out; the server closes it at the transaction's
// end anyway, so a failed close is not reported.
class LargeObject {
public:
    LargeObject(PGconn* conn, Oid oid, int mode, const std::string& fileId) : conn_(conn), fd_(lo_open(conn, oid, mode)) {
        if (fd_ < 0) throw LargeObjectError(conn, fileId);
    }
    LargeObject(const LargeObject&) = delete;
    LargeObject& operator=(const LargeObject&) = delete;
    ~LargeObject() {
        if (PQstatus(conn_) == CONNECTION_OK) lo_close(conn_, fd_);
    }
    int Get() const noexcept { return fd_; }

private:
    PGconn* conn_;
    int fd_;
};

// The bytes of the file at `path` when it holds at most one piece; nothing for a larger one.
std::optional<std::string> SmallFile(const std::string& path) {
    LocalFile file(path);
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0 || info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > kChunk) {
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(info.st_size) + 1, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(file.Get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw PgError("58030", "Can't read " + path + ": " + std::strerror(errno));
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    // Grown since it was looked at: the streaming way takes it whatever its size.
    if (got > static_cast<std::size_t>(info.st_size)) return std::nullopt;
    bytes.resize(got);
    return bytes;
}

std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

// Returns the number of bytes written.
std::int64_t WriteContent(PGconn* conn, Oid oid, const std::string& fileId, const std::string& path) {
    LocalFile file(path);
    LargeObject object(conn, oid, INV_WRITE, fileId);
    std::vector<char> buffer(kChunk);
    std::int64_t size = 0;
    for (;;) {
        const ssize_t got = ::read(file.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw PgError("58030", "Can't read " + path + ": " + std::strerror(errno));
        if (got == 0) return size;
        size += got;
        if (lo_write(conn, object.Get(), buffer.data(), static_cast<std::size_t>(got)) != got) {
            throw LargeObjectError(conn, fileId);
        }
    }
}

}  // namespace

void StoreFile(ArchiveConnection& connection, const std::string& fileId, const std::string& path) {
    Session& session = SessionOf(connection);
    if (!session.InTransaction()) {
        throw PgError(kStateMisuse, "A file is stored in the transaction of its row; none is open.");
    }
    PgConnection& pg = session.Connection();
    PGconn* conn = pg.Get();
    // Its own savepoint: a file that fails half-way leaves the transaction usable, as any other
    // refused statement does.
    // Read before the savepoint: a file that cannot be read fails with nothing to undo.
    const std::optional<std::string> whole = SmallFile(path);
    try {
        if (whole) {
            // A fax of usual size goes in one statement, with its savepoint, in one round trip.
            pg.ExecBetween("SAVEPOINT vexa_file",
                           "INSERT INTO stored_files (file_id, content, size) VALUES ($1, lo_from_bytea(0, decode($2, 'hex')), $3)",
                           {fileId, Hex(*whole), static_cast<std::int64_t>(whole->size())}, "RELEASE SAVEPOINT vexa_file");
            return;
        }
        pg.Exec("SAVEPOINT vexa_file");
        const Oid oid = lo_creat(conn, INV_READ | INV_WRITE);
        if (oid == InvalidOid) throw LargeObjectError(conn, fileId);
        // The row first: a file id already taken fails before any byte is sent.
        pg.Exec("INSERT INTO stored_files (file_id, content, size) VALUES ($1, $2, 0)",
                {fileId, static_cast<std::int64_t>(oid)});
        const std::int64_t size = WriteContent(conn, oid, fileId, path);
        pg.Exec("UPDATE stored_files SET size = $2 WHERE file_id = $1", {fileId, size});
        pg.Exec("RELEASE SAVEPOINT vexa_file");
    } catch (...) {
        if (!pg.Lost()) {
            try {
                pg.Exec("ROLLBACK TO SAVEPOINT vexa_file");
                pg.Exec("RELEASE SAVEPOINT vexa_file");
            } catch (const HostError&) {
            }
        }
        throw;
    }
}

bool ReadLargeObjectFile(PgConnection& pg, bool inTransaction, const std::string& fileId,
                         const std::function<void(std::string_view)>& sink) {
    PGconn* conn = pg.Get();
    // A large object is read inside a transaction.
    if (!inTransaction) pg.Exec("BEGIN READ ONLY");
    try {
        const PgResult found = pg.Exec("SELECT content FROM stored_files WHERE file_id = $1", {fileId});
        bool present = found.Rows() > 0;
        if (present) {
            LargeObject object(conn, static_cast<Oid>(std::stoul(found.Text(0, 0))), INV_READ, fileId);
            std::vector<char> buffer(kChunk);
            for (;;) {
                const int got = lo_read(conn, object.Get(), buffer.data(), buffer.size());
                if (got < 0) throw LargeObjectError(conn, fileId);
                if (got == 0) break;
                sink(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
            }
        }
        if (!inTransaction) pg.Exec("COMMIT");
        return present;
    } catch (...) {
        if (!inTransaction && !pg.Lost()) {
            try {
                pg.Exec("ROLLBACK");
            } catch (const HostError&) {
            }
        }
        throw;
    }
}

bool ReadStoredFile(ArchiveConnection& connection, const std::string& fileId,
                    const std::function<void(std::string_view)>& sink) {
    Session& session = SessionOf(connection);
    if (session.Connection().Lost()) session.Connection().Reconnect();
    return ReadLargeObjectFile(session.Connection(), session.InTransaction(), fileId, sink);
}

}  // namespace vexa::postgres
