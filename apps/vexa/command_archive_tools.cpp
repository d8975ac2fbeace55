// vexa export-files DIR: the stored attachment files of the installation's archive written out
// as an Attach folder holds them, whichever engine keeps them.
// vexa migrate --to URI [--renumber]: the installation's embedded archive and its Attach folder
// copied into an office's PostgreSQL archive (linux/archive_migration.h says how).

#include <unistd.h>

#include <algorithm>
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
#include "linux/archive_migration.h"
#include "linux/installation_archive.h"
#include "linux/process_lock.h"

namespace vexa::cli {

using linuxhost::OpenArchiveQueries;
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

// "received 1-97, 99; sent 1-4": the numbers of `rows`, in runs.
std::string NumberRanges(const std::vector<linuxhost::MigrationRow>& rows) {
    std::string text;
    for (const ArchiveTable table : {ArchiveTable::Recv, ArchiveTable::Send}) {
        std::vector<std::int64_t> ids;
        for (const auto& row : rows) {
            if (row.table == table) ids.push_back(row.row.id);
        }
        if (ids.empty()) continue;
        std::sort(ids.begin(), ids.end());
        text += text.empty() ? "" : "; ";
        text += table == ArchiveTable::Recv ? "received " : "sent ";
        for (std::size_t i = 0; i < ids.size();) {
            std::size_t j = i;
            while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1) ++j;
            text += (i > 0 ? ", " : "") + std::to_string(ids[i]) + (j > i ? "-" + std::to_string(ids[j]) : "");
            i = j + 1;
        }
    }
    return text;
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
        if (!IsOwnStoredFile(table, row)) continue;
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
    const ParsedOptions options = ParseOptions(args, {{"to", true}, {"renumber", false}});
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    const auto uri = options.Value("to");
    if (!uri) throw UsageError("name the server archive with --to postgresql://...");
    if (const auto problem = postgres::ArchiveAddressProblem(*uri)) throw UsageError(*problem);
    CommandRuntime runtime({std::nullopt, std::nullopt, true});
    const fs::path home = InstallationFolder(runtime);
    if (home.empty()) return kExitConfig;

    linuxhost::MigrationOptions migration;
    migration.renumber = options.Has("renumber");
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    if (terminal) {
        migration.progress = [](std::size_t done, std::size_t total) {
            if (done % 50 == 0 || done == total) std::fprintf(stderr, "\rCopying %zu/%zu", done, total);
        };
    }
    linuxhost::MigrationResult result;
    try {
        result = linuxhost::MigrateArchive(home, *uri, migration);
    } catch (const linuxhost::LockHeld& held) {
        std::fprintf(stderr, "vexa migrate: %s Stop vexa watch first.\n", held.Message().c_str());
        return kExitTempFail;
    }
    if (terminal) std::fputs("\r\033[K", stderr);
    using Outcome = linuxhost::MigrationResult::Outcome;
    if (result.outcome == Outcome::NumbersTaken) {
        std::fprintf(stderr,
                     "vexa migrate: %zu faxes of this installation have numbers that %s already uses for others (%s); "
                     "nothing was copied. vexa migrate --to %s --renumber copies them under new numbers.\n",
                     result.conflicts.size(), uri->c_str(), NumberRanges(result.conflicts).c_str(), uri->c_str());
        return kExitDataError;
    }
    if (result.outcome == Outcome::AwaitingConfirmation) {
        std::fprintf(stderr,
                     "vexa migrate: these sent faxes are still waiting for their confirmations, which will quote their "
                     "numbers, and %s uses those numbers for other faxes; nothing was copied. Run it again once their "
                     "confirmations are archived.\n",
                     uri->c_str());
        for (const auto& [table, row] : result.conflicts) {
            std::fprintf(stderr, "  %s  %s  %s  %s\n", FormatId(row.id).c_str(), row.date.c_str(), row.number.c_str(),
                         row.subject.c_str());
        }
        return kExitDataError;
    }
    for (const auto& renumbered : result.renumbered) {
        std::printf("%s fax %s is now %s\n", renumbered.table == ArchiveTable::Recv ? "received" : "sent",
                    FormatId(renumbered.from).c_str(), FormatId(renumbered.to).c_str());
    }
    std::printf("%d rows and %d files copied to %s; this installation now uses it\n", result.rows, result.files,
                uri->c_str());
    std::printf("%s (%zu rows) and %s (%zu files) are no longer used; keep them until you have checked the server "
                "archive (vexa list), then they may be deleted.\n",
                (home / kArchiveFileName).c_str(), result.localRows, (home / kAttachFolder).c_str(), result.localFiles);
    return kExitOk;
}

}  // namespace vexa::cli
