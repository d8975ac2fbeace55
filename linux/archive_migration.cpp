#include "linux/archive_migration.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <random>
#include <tuple>

#include "adapters/posix/atomic_file.h"
#include "adapters/postgres/archive_import.h"
#include "adapters/postgres/postgres_archive.h"
#include "adapters/sqlite/sqlite_queries.h"
#include "archive/archive_names.h"
#include "host/host_error.h"
#include "linux/installation_archive.h"
#include "linux/process_lock.h"
#include "linux/trimmed.h"

namespace vexa::linuxhost {
namespace fs = std::filesystem;
namespace {

// Names the embedded archive to the server's record of what it imported, the same on every run.
constexpr const char* kSourceFile = "migration.id";

std::string SourceOf(const fs::path& home) {
    if (const auto bytes = posix::ReadFileIfPresent(home / kSourceFile)) {
        if (std::string id = Trimmed(*bytes); !id.empty()) return id;
    }
    std::random_device random;
    char id[40];
    std::snprintf(id, sizeof id, "%08x%08x%08x%08x", static_cast<unsigned>(random()), static_cast<unsigned>(random()),
                  static_cast<unsigned>(random()), static_cast<unsigned>(random()));
    posix::WriteFileAtomically(home / kSourceFile, std::string(id) + "\n", posix::FileAccess::Private);
    return id;
}

// Every row, received ones first, each table in the order of its numbers.
std::vector<MigrationRow> AllRows(ArchiveQueries& queries) {
    std::vector<MigrationRow> rows;
    for (const ArchiveTable table : {ArchiveTable::Recv, ArchiveTable::Send}) {
        ListQuery query;
        query.table = table;
        for (auto& row : queries.List(query)) rows.push_back({table, std::move(row)});
    }
    std::sort(rows.begin(), rows.end(), [](const MigrationRow& a, const MigrationRow& b) {
        return std::tie(a.table, a.row.id) < std::tie(b.table, b.row.id);
    });
    return rows;
}

// The row's file in Attach, when it is one the store made for it and it is there.
std::optional<std::string> LocalFileOf(const fs::path& home, const MigrationRow& row) {
    if (!IsOwnStoredFile(row.table, row.row)) return std::nullopt;
    const fs::path file = home / kAttachFolder / row.row.fileId;
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return file.string();
}

std::size_t FilesIn(const fs::path& folder) {
    std::size_t count = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec)) ++count;
    }
    return count;
}

bool AwaitsConfirmation(const MigrationRow& row) {
    return row.table == ArchiveTable::Send && row.row.confirm == ConfirmState::Unconfirmed;
}

}  // namespace

MigrationResult MigrateArchive(const fs::path& home, const std::string& uri, const MigrationOptions& options) {
    const ProcessLock lock(home.string());
    const fs::path archive = home / kArchiveFileName;
    if (!fs::exists(archive)) throw HostError(ENOENT, "There is no embedded archive to copy: " + archive.string());
    postgres::CreatePostgresArchive(uri);
    postgres::CheckPostgresArchive(uri);

    MigrationResult result;
    std::vector<MigrationRow> rows;
    {
        sqlite::SqliteArchiveQueries local(archive.string());
        rows = AllRows(local);
    }
    result.localRows = rows.size();
    result.localFiles = FilesIn(home / kAttachFolder);
    postgres::ArchiveImport import(uri, SourceOf(home));

    // Where each row goes, found before anything is copied: a migration that cannot copy every
    // row copies none.
    struct Planned {
        const MigrationRow* row;
        bool renumber;
    };
    std::vector<Planned> plan;
    std::vector<MigrationRow> taken, awaiting;
    std::int64_t kept[2] = {0, 0};
    for (const MigrationRow& row : rows) {
        switch (import.Locate(row.table, row.row)) {
            case postgres::ArchiveImport::Place::Imported:
                break;
            case postgres::ArchiveImport::Place::Free:
                plan.push_back({&row, false});
                kept[static_cast<int>(row.table)] = std::max(kept[static_cast<int>(row.table)], row.row.id);
                break;
            case postgres::ArchiveImport::Place::Taken:
                plan.push_back({&row, true});
                (AwaitsConfirmation(row) ? awaiting : taken).push_back(row);
                break;
        }
    }
    if (!options.renumber && !(taken.empty() && awaiting.empty())) {
        result.outcome = MigrationResult::Outcome::NumbersTaken;
        result.conflicts = std::move(taken);
        result.conflicts.insert(result.conflicts.end(), awaiting.begin(), awaiting.end());
        return result;
    }
    if (!awaiting.empty()) {
        result.outcome = MigrationResult::Outcome::AwaitingConfirmation;
        result.conflicts = std::move(awaiting);
        return result;
    }

    for (const ArchiveTable table : {ArchiveTable::Recv, ArchiveTable::Send}) {
        if (const std::int64_t id = kept[static_cast<int>(table)]; id > 0) import.Reserve(table, id);
    }
    for (std::size_t i = 0; i < plan.size(); ++i) {
        if (options.progress) options.progress(i, plan.size());
        const MigrationRow& row = *plan[i].row;
        const auto copied = import.Copy(row.table, row.row, LocalFileOf(home, row), plan[i].renumber);
        ++result.rows;
        if (copied.fileStored) ++result.files;
        if (plan[i].renumber) result.renumbered.push_back({row.table, row.row.id, copied.id});
    }
    if (options.progress) options.progress(plan.size(), plan.size());
    RecordServerArchive(home, uri);
    return result;
}

}  // namespace vexa::linuxhost
