// Where an installation keeps its archive. By default the embedded SQLite file Corvane.mdb in its
// folder, with the attachment files in Attach. An office's installation names a shared archive on
// a PostgreSQL server instead, in the file "archive.uri" of its folder (written by `vexa init
// --archive URI`); its attachment files then live in the database beside their rows, written in
// the row's own transaction, and Attach only holds a file while it is being stored.
//
// The add-in asks for the archive by the path of Corvane.mdb; this engine looks at that path's
// folder and opens the archive the installation uses, and the file store follows it.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "adapters/posix/posix_file_store.h"
#include "adapters/postgres/postgres_archive.h"
#include "adapters/sqlite/sqlite_archive.h"
#include "archive/archive_engine.h"
#include "archive/archive_queries.h"
#include "archive/file_store.h"

namespace vexa::linuxhost {

inline constexpr const char* kServerArchiveFile = "archive.uri";

// The server archive the installation in `folder` uses, if it names one.
std::optional<std::string> ServerArchiveOf(const std::filesystem::path& folder);
// Records `uri` as the installation's archive (readable by its owner only).
void RecordServerArchive(const std::filesystem::path& folder, const std::string& uri);

class InstallationArchive final : public ArchiveEngine, public FileStore {
public:
    InstallationArchive();
    ~InstallationArchive() override;
    InstallationArchive(const InstallationArchive&) = delete;
    InstallationArchive& operator=(const InstallationArchive&) = delete;

    std::unique_ptr<ArchiveConnection> Open(const std::string& path) override;

    bool Exists(const std::string& path) override;
    void Flush(const std::string& path) override;
    void Remove(const std::string& path) override;
    void Rename(const std::string& from, const std::string& to) override;
    std::vector<std::string> List(const std::string& folder) override;

    // Group commit on the archive in use, the embedded one or the server's (see their engines).
    void BeginGroup();
    void CommitGroup();
    void AbortGroup() noexcept;
    // The local files, for group commit (a server archive's files go with its rows).
    posix::PosixFileStore& LocalFiles() { return files_; }

    // True once since the server archive could not be reached (a store failed for it): the
    // command stops archiving, leaves the rest in the Inbox and tries again later.
    bool TakeServerLost() noexcept { return std::exchange(serverLost_, false); }

private:
    class ServerConnection;
    sqlite::SqliteArchiveEngine sqlite_;
    posix::PosixFileStore files_;
    std::optional<postgres::PostgresArchiveEngine> server_;
    // The server connection the add-in holds, while it holds it: a stored file is written in its
    // transaction.
    ArchiveConnection* open_ = nullptr;
    bool serverLost_ = false;
};

// The queries of the viewer and `vexa list` on the installation's archive in `folder`.
std::unique_ptr<ArchiveQueries> OpenArchiveQueries(const std::filesystem::path& folder);

}  // namespace vexa::linuxhost
