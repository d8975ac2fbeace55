#include "linux/installation_archive.h"

#include <unistd.h>

#include <cerrno>

#include "adapters/posix/atomic_file.h"
#include "adapters/postgres/pg_connection.h"
#include "adapters/postgres/postgres_queries.h"
#include "adapters/sqlite/sqlite_queries.h"
#include "archive/archive_names.h"
#include "host/host_error.h"
#include "linux/trimmed.h"

namespace vexa::linuxhost {
namespace fs = std::filesystem;
namespace {

// The stored file's id for the path of its file while it is stored ("R0000042.tif.partial").
std::string FileIdOf(const std::string& path) {
    std::string name = fs::path(path).filename().string();
    const std::string pending = kPendingSuffix;
    if (name.ends_with(pending)) name.resize(name.size() - pending.size());
    return name;
}

// The server cannot be reached, or is shutting down (SQLSTATE class 57P): storing later may work.
bool Unreachable(const postgres::PgError& e) { return e.ConnectionLost() || e.SqlState().starts_with("57P"); }

}  // namespace

std::optional<std::string> ServerArchiveOf(const fs::path& folder) {
    const auto bytes = posix::ReadFileIfPresent(folder / kServerArchiveFile);
    if (!bytes) return std::nullopt;
    std::string uri = Trimmed(*bytes);
    if (uri.empty()) return std::nullopt;
    return uri;
}

void RecordServerArchive(const fs::path& folder, const std::string& uri) {
    posix::WriteFileAtomically(folder / kServerArchiveFile, uri + "\n", posix::FileAccess::Private);
}

// The server connection, handed to the add-in; while it lives, stored files go into its
// transaction.
class InstallationArchive::ServerConnection final : public ArchiveConnection {
    // Runs `call`, noting a server that cannot be reached.
    template <typename Call>
    auto Watched(Call&& call) -> decltype(call()) {
        try {
            return call();
        } catch (const postgres::PgError& e) {
            if (Unreachable(e)) owner_.serverLost_ = true;
            throw;
        }
    }

public:
    ServerConnection(InstallationArchive& owner, std::unique_ptr<ArchiveConnection> inner)
        : owner_(owner), inner_(std::move(inner)) {
        owner_.open_ = inner_.get();
    }
    ~ServerConnection() override {
        if (owner_.open_ == inner_.get()) owner_.open_ = nullptr;
    }
    void Close() override { inner_->Close(); }
    std::unique_ptr<ArchiveRecordset> OpenTable(const std::string& table) override {
        return std::make_unique<ServerRecordset>(*this, Watched([&] { return inner_->OpenTable(table); }));
    }
    std::int32_t Execute(const std::string& statement, const std::vector<FieldValue>& parameters) override {
        return Watched([&] { return inner_->Execute(statement, parameters); });
    }
    void BeginTrans() override { Watched([&] { inner_->BeginTrans(); }); }
    void CommitTrans() override { Watched([&] { inner_->CommitTrans(); }); }
    void RollbackTrans() override { inner_->RollbackTrans(); }
    bool RecordsMessageIds() override { return inner_->RecordsMessageIds(); }
    std::optional<std::int64_t> RowOfMessage(const std::string& table, const std::string& messageId) override {
        return Watched([&] { return inner_->RowOfMessage(table, messageId); });
    }

private:
    // A recordset's saves reach the server too.
    class ServerRecordset final : public ArchiveRecordset {
    public:
        ServerRecordset(ServerConnection& connection, std::unique_ptr<ArchiveRecordset> inner)
            : connection_(connection), inner_(std::move(inner)) {}
        void AddNew() override { inner_->AddNew(); }
        void SetField(const std::string& column, const FieldValue& value) override { inner_->SetField(column, value); }
        void Update() override { connection_.Watched([&] { inner_->Update(); }); }
        std::int64_t Id() override { return inner_->Id(); }

    private:
        ServerConnection& connection_;
        std::unique_ptr<ArchiveRecordset> inner_;
    };

    InstallationArchive& owner_;
    std::unique_ptr<ArchiveConnection> inner_;
};

InstallationArchive::InstallationArchive() = default;
InstallationArchive::~InstallationArchive() = default;

std::unique_ptr<ArchiveConnection> InstallationArchive::Open(const std::string& path) {
    const auto uri = ServerArchiveOf(fs::path(path).parent_path());
    if (!uri) {
        server_.reset();
        return sqlite_.Open(path);
    }
    server_.emplace(*uri);
    return std::make_unique<ServerConnection>(*this, server_->Open(path));
}

void InstallationArchive::BeginGroup() {
    if (server_) return server_->BeginGroup();
    sqlite_.BeginGroup();
}

void InstallationArchive::CommitGroup() {
    if (server_) {
        try {
            return server_->CommitGroup();
        } catch (const postgres::PgError& e) {
            if (Unreachable(e)) serverLost_ = true;
            throw;
        }
    }
    sqlite_.CommitGroup();
}

void InstallationArchive::AbortGroup() noexcept {
    if (server_) return server_->AbortGroup();
    sqlite_.AbortGroup();
}

bool InstallationArchive::Exists(const std::string& path) { return files_.Exists(path); }

void InstallationArchive::Flush(const std::string& path) {
    if (!server_) return files_.Flush(path);
    if (open_ == nullptr) throw HostError(ENOTCONN, "The archive is not open.");
    // Into the database, in the transaction of the file's row: both or neither are kept.
    try {
        postgres::StoreFile(*open_, FileIdOf(path), path);
    } catch (const postgres::PgError& e) {
        if (Unreachable(e)) serverLost_ = true;
        throw;
    }
}

void InstallationArchive::Remove(const std::string& path) { files_.Remove(path); }

void InstallationArchive::Rename(const std::string& from, const std::string& to) {
    if (!server_) return files_.Rename(from, to);
    // The file is in the database under its id; the local copy has done its work.
    files_.Remove(from);
    static_cast<void>(to);
}

std::vector<std::string> InstallationArchive::List(const std::string& folder) { return files_.List(folder); }

std::unique_ptr<ArchiveQueries> OpenArchiveQueries(const fs::path& folder) {
    if (const auto uri = ServerArchiveOf(folder)) return std::make_unique<postgres::PostgresArchiveQueries>(*uri);
    return std::make_unique<sqlite::SqliteArchiveQueries>((folder / kArchiveFileName).string());
}

}  // namespace vexa::linuxhost
