// vexa init: the installer's step. Creates the installation folder with an empty archive, the
// Attach folder and the help document, and records the folder where start-up looks for it. An
// existing installation keeps its archive and files, and has its permissions tightened: the
// faxes are as private as the Maildir they came from. A file in the archive's place that is not
// an archive of ours is kept, and nothing is recorded.

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "adapters/posix/atomic_file.h"
#include "adapters/posix/posix_error.h"
#include "adapters/posix/record_registry.h"
#include "adapters/posix/private_folder.h"
#include "adapters/postgres/postgres_archive.h"
#include "adapters/sqlite/sqlite_archive.h"
#include "adapters/sqlite/sqlite_queries.h"
#include "apps/vexa/cli.h"
#include "apps/vexa/help_document.h"
#include "apps/vexa/option_parser.h"
#include "host/host_error.h"
#include "linux/environment.h"
#include "linux/installation_archive.h"

namespace vexa::cli {

using linuxhost::DefaultHome;
using linuxhost::RecordServerArchive;
using linuxhost::kAppPathsKey;
using linuxhost::kHelpFileName;
using linuxhost::kModuleFileName;
namespace {

constexpr mode_t kGroupAndOthers = S_IRWXG | S_IRWXO;

// A folder of the installation: made for the owner alone whatever the umask; an existing one
// loses whatever group and others had.
void MakePrivateFolder(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), S_IRWXU) == 0) {
        if (::chmod(folder.c_str(), S_IRWXU) != 0) throw posix::PosixError("Can't protect " + folder.string(), errno);
        return;
    }
    if (errno != EEXIST) throw posix::PosixError("Can't create the folder " + folder.string(), errno);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) throw posix::PosixError("Can't read " + folder.string(), errno);
    if (!S_ISDIR(info.st_mode)) throw posix::PosixError("Can't create the folder " + folder.string(), ENOTDIR);
    if ((info.st_mode & kGroupAndOthers) != 0 &&
        ::chmod(folder.c_str(), info.st_mode & 07777 & ~kGroupAndOthers) != 0) {
        throw posix::PosixError("Can't protect " + folder.string(), errno);
    }
}

// Takes group and others' access away from a file an earlier installation left readable.
// Symbolic links are left alone: chmod would reach whatever they point at.
void TightenFile(const std::filesystem::path& file) {
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0) {
        if (errno == ENOENT) return;
        throw posix::PosixError("Can't read " + file.string(), errno);
    }
    if (!S_ISREG(info.st_mode) || (info.st_mode & kGroupAndOthers) == 0) return;
    if (::chmod(file.c_str(), info.st_mode & 07777 & ~kGroupAndOthers) != 0) {
        throw posix::PosixError("Can't protect " + file.string(), errno);
    }
}

void TightenInstallation(const std::filesystem::path& home, const std::filesystem::path& archive) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) TightenFile(archive.string() + suffix);
    TightenFile(home / "vexa.lock");
    for (const auto& entry : std::filesystem::directory_iterator(home / "Attach")) TightenFile(entry.path());
}

// The rows of the embedded archive an installation still uses; 0 when it uses a server archive
// or has none.
std::int64_t FaxesInEmbeddedArchive(const std::filesystem::path& home) {
    const std::filesystem::path archive = home / kArchiveFileName;
    if (linuxhost::ServerArchiveOf(home) || !std::filesystem::exists(archive)) return 0;
    sqlite::SqliteArchiveQueries local(archive.string());
    std::int64_t rows = 0;
    for (const ArchiveTable table : {ArchiveTable::Recv, ArchiveTable::Send}) {
        ListQuery query;
        query.table = table;
        rows += local.Count(query);
    }
    return rows;
}

// An office's installation: the tables are made on the server where missing, and the
// installation records that it uses them.
int InitServerArchive(const std::filesystem::path& home, const std::string& uri) {
    if (const auto problem = postgres::ArchiveAddressProblem(uri)) throw UsageError(*problem);
    // Switched silently, the installation would show the office's faxes only, and its own would
    // stay behind in a file nothing reads any more.
    if (const std::int64_t held = FaxesInEmbeddedArchive(home); held > 0) {
        std::fprintf(stderr,
                     "vexa init: this installation's archive %s holds %lld faxes, which the server archive would not "
                     "show; nothing was changed. Copy them there, and switch to it, with: vexa migrate --to %s\n",
                     (home / kArchiveFileName).c_str(), static_cast<long long>(held), uri.c_str());
        return kExitDataError;
    }
    try {
        postgres::CreatePostgresArchive(uri);
        postgres::CheckPostgresArchive(uri);
    } catch (const HostError& e) {
        // Nothing is made or recorded: a start-up failure, for the user to mend.
        std::fprintf(stderr, "vexa init: %s\n", e.Description().c_str());
        return kExitConfig;
    }
    posix::MakePrivateFolders(home.parent_path());
    MakePrivateFolder(home);
    MakePrivateFolder(home / "Attach");
    RecordServerArchive(home, uri);
    posix::WriteFileAtomically(home / kHelpFileName, HelpDocument(), posix::FileAccess::Private);
    posix::RecordRegistry record(posix::DefaultRecordPath());
    record.SetDefaultValue(kHkeyLocalMachine, kAppPathsKey, (home / kModuleFileName).string());
    std::printf("Vexa uses the archive %s\nVexa is installed in %s\n", uri.c_str(), home.c_str());
    return kExitOk;
}

}  // namespace

int RunInit(const Args& args) {
    const ParsedOptions options = ParseOptions(args, {{"home", true}, {"archive", true}});
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    const auto given = options.Value("home");
    if (given && given->empty()) throw UsageError("--home needs a folder");
    const std::filesystem::path home = given ? std::filesystem::absolute(*given).lexically_normal() : DefaultHome();
    if (const auto uri = options.Value("archive")) return InitServerArchive(home, *uri);
    const std::filesystem::path archive = home / kArchiveFileName;

    // Checked before anything is made or recorded, so a refusal changes nothing at all.
    const bool exists = std::filesystem::exists(std::filesystem::symlink_status(archive));
    if (exists) {
        try {
            sqlite::CheckSqliteArchive(archive.string());
        } catch (const HostError& e) {
            throw HostError(e.Number(), archive.string() + " is not a Vexa archive (" + e.Description() +
                                            "); it is kept as it is. Move it away or choose another folder with --home.");
        }
    }

    posix::MakePrivateFolders(home.parent_path());
    MakePrivateFolder(home);
    MakePrivateFolder(home / "Attach");
    if (exists) {
        std::printf("Kept the archive %s\n", archive.c_str());
    } else {
        sqlite::CreateSqliteArchive(archive.string());
        std::printf("Created the archive %s\n", archive.c_str());
    }
    posix::WriteFileAtomically(home / kHelpFileName, HelpDocument(), posix::FileAccess::Private);
    TightenInstallation(home, archive);

    posix::RecordRegistry record(posix::DefaultRecordPath());
    record.SetDefaultValue(kHkeyLocalMachine, kAppPathsKey, (home / kModuleFileName).string());
    std::printf("Vexa is installed in %s\n", home.c_str());
    return kExitOk;
}

}  // namespace vexa::cli
