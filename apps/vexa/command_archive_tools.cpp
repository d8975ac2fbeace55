// vexa export-files DIR: the stored attachment files of the installation's archive written out
// as an Attach folder holds them, whichever engine keeps them.
// vexa migrate --to URI: the installation's embedded archive and its Attach folder copied into an
// office's PostgreSQL archive, ids and FileIds kept; run again, it copies only what is missing.
// Then the installation uses the server archive.

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "adapters/posix/private_folder.h"
#include "adapters/postgres/postgres_archive.h"
#include "adapters/sqlite/sqlite_queries.h"
#include "apps/vexa/cli.h"
#include "apps/vexa/command_runtime.h"
#include "apps/vexa/option_parser.h"
#include "archive/archive_names.h"
#include "host/host_error.h"
#include "linux/installation_archive.h"

namespace vexa::cli {

using linuxhost::OpenArchiveQueries;
using linuxhost::RecordServerArchive;
namespace fs = std::filesystem;
namespace {

// The installation's folder, found as start-up finds it.
fs::path InstallationFolder(linuxhost::Runtime& runtime) {
    if (!runtime.Connect()) return {};
    fs::path home(runtime.Addin().AppPath());
    runtime.Shutdown();
    return home;
}

std::vector<std::pair<ArchiveTable, ArchiveRow>> AllRows(ArchiveQueries& queries) {
    std::vector<std::pair<ArchiveTable, ArchiveRow>> rows;
    for (const ArchiveTable table : {ArchiveTable::Recv, ArchiveTable::Send}) {
        ListQuery query;
        query.table = table;
        for (auto& row : queries.List(query)) rows.emplace_back(table, std::move(row));
    }
    return rows;
}

// A stored name the store makes for this row; anything else in FileId is no file of ours.
bool OursFor(const ArchiveRow& row, ArchiveTable table) {
    const auto owner = OwnerOfStoredFile(row.fileId);
    return owner && owner->id == row.id && std::string(owner->table) == (table == ArchiveTable::Recv ? "recv" : "send");
}

}  // namespace

int RunExportFiles(const Args& args) {
    const ParsedOptions options = ParseOptions(args, {});
    if (options.Operands().size() != 1) throw UsageError("name the folder to write the files into");
    const fs::path target = options.Operands()[0];
    CommandRuntime runtime({std::nullopt, std::nullopt, true});
    const fs::path home = InstallationFolder(runtime);
    if (home.empty()) return kExitConfig;
    posix::MakePrivateFolders(target);
    const auto queries = OpenArchiveQueries(home);
    int written = 0, missing = 0;
    for (const auto& [table, row] : AllRows(*queries)) {
        if (!OursFor(row, table)) continue;
        const fs::path file = target / row.fileId;
        const fs::path partial = target / (row.fileId + ".partial");
        bool found = false;
        {
            std::ofstream out(partial, std::ios::binary | std::ios::trunc);
            found = queries->ReadStoredFile(row.fileId, [&](std::string_view piece) {
                out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
            });
            out.close();
            found = found && out.good();
        }
        if (found) {
            fs::rename(partial, file);
        } else {
            fs::remove(partial);
        }
        if (found) {
            fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
            ++written;
        } else {
            std::fprintf(stderr, "vexa export-files: %s of row %lld is not in the archive\n", row.fileId.c_str(),
                         static_cast<long long>(row.id));
            ++missing;
        }
    }
    std::printf("%d files written to %s, %d missing\n", written, target.c_str(), missing);
    return missing == 0 ? kExitOk : kExitReported;
}

int RunMigrate(const Args& args) {
    const ParsedOptions options = ParseOptions(args, {{"to", true}});
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    const auto uri = options.Value("to");
    if (!uri) throw UsageError("name the server archive with --to postgresql://...");
    if (const auto problem = postgres::ArchiveAddressProblem(*uri)) throw UsageError(*problem);
    CommandRuntime runtime({std::nullopt, std::nullopt, true});
    const fs::path home = InstallationFolder(runtime);
    if (home.empty()) return kExitConfig;
    // Run again after a migration (the installation uses the server by then), it copies what is
    // missing: nothing, unless the first run was cut short.
    if (!fs::exists(home / kArchiveFileName)) {
        throw HostError(ENOENT, "There is no embedded archive to copy: " + (home / kArchiveFileName).string());
    }

    postgres::CreatePostgresArchive(*uri);
    postgres::CheckPostgresArchive(*uri);
    sqlite::SqliteArchiveQueries local((home / kArchiveFileName).string());
    postgres::PostgresArchiveEngine engine(*uri);
    const auto server = engine.Open("");
    int rows = 0, files = 0;
    for (const auto& [table, row] : AllRows(local)) {
        // Each row with its file in one transaction: a migration cut short leaves whole rows.
        ArchiveTransaction transaction(*server);
        const bool recv = table == ArchiveTable::Recv;
        const std::string insert = std::string("INSERT INTO ") + (recv ? "recv" : "send") +
                                   " (id, date, number, subject, description, filename, fileid, " +
                                   (recv ? "new" : "confirm") + ") VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (id) DO NOTHING";
        const FieldValue last = recv ? FieldValue(row.isNew) : (row.confirm == ConfirmState::Unconfirmed ? FieldValue() : FieldValue(std::string(ConfirmText(row.confirm))));
        rows += server->Execute(insert, {row.id, row.date.empty() ? FieldValue() : FieldValue(row.date), row.number,
                                         row.subject, row.description, row.fileName, row.fileId, last});
        const fs::path file = home / kAttachFolder / row.fileId;
        if (OursFor(row, table) && fs::exists(file) &&
            server->Execute("UPDATE stored_files SET file_id = file_id WHERE file_id = ?", {row.fileId}) == 0) {
            postgres::StoreFile(*server, row.fileId, file.string());
            ++files;
        }
        transaction.Commit();
    }
    // New rows on the server are numbered after the migrated ones.
    for (const char* table : {"recv", "send"}) {
        server->Execute(std::string("SELECT setval(pg_get_serial_sequence('") + table + "', 'id'), GREATEST((SELECT max(id) FROM " +
                            table + "), 1))",
                        {});
    }
    server->Close();
    RecordServerArchive(home, *uri);
    runtime.Shutdown();
    std::printf("%d rows and %d files copied to %s; this installation now uses it\n", rows, files, uri->c_str());
    return kExitOk;
}

}  // namespace vexa::cli
