// vexa init: the installer's step. Creates the installation folder with an empty archive, the
// Attach folder and the help document, and records the folder where start-up looks for it. An
// existing installation keeps its archive and files.

#include <cstdio>
#include <filesystem>

#include "adapters/posix/atomic_file.h"
#include "adapters/posix/file_registry.h"
#include "adapters/sqlite/sqlite_archive.h"
#include "apps/vexa/cli.h"
#include "apps/vexa/environment.h"
#include "apps/vexa/help_document.h"
#include "apps/vexa/option_parser.h"

namespace vexa::cli {

int RunInit(const Args& args) {
    const ParsedOptions options = ParseOptions(args, {{"home", true}});
    if (!options.Operands().empty()) throw UsageError("unexpected operand '" + options.Operands()[0] + "'");
    const auto given = options.Value("home");
    if (given && given->empty()) throw UsageError("--home needs a folder");
    const std::filesystem::path home = given ? std::filesystem::absolute(*given).lexically_normal() : DefaultHome();

    std::filesystem::create_directories(home / "Attach");
    const std::filesystem::path archive = home / kArchiveFileName;
    if (std::filesystem::exists(archive)) {
        std::printf("Kept the archive %s\n", archive.c_str());
    } else {
        CreateSqliteArchive(archive.string());
        std::printf("Created the archive %s\n", archive.c_str());
    }
    WriteFileAtomically(home / kHelpFileName, HelpDocument());

    FileRegistry registry(DefaultRegistryPath());
    registry.SetString(kHkeyLocalMachine, kAppPathsKey, "", (home / kModuleFileName).string());
    std::printf("Vexa is installed in %s\n", home.c_str());
    return kExitOk;
}

}  // namespace vexa::cli
