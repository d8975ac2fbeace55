// `vexa migrate`: an installation's embedded archive and its Attach folder copied into an office's
// server archive, after which the installation uses the server. Each row goes with its file in
// one transaction, and the server records what came from this installation, so a migration cut
// short is finished by running it again, which copies only what is missing.
//
// A migration copies every row or nothing. Rows keep their numbers where the server archive has
// no row of that number. Where it has (an office archive others already use), nothing is copied
// unless the user asks for new numbers (`renumber`): received faxes and sent faxes whose
// confirmation came then take the server's next numbers, their stored files renamed to match. A
// sent fax still waiting for its confirmation keeps its number or stops the migration: the
// confirmation will quote that number, and under it the server archive holds another fax.
//
// The installation's lock is held throughout, so no scan or watch archives into the old archive
// meanwhile; the embedded archive and Attach are left as they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive_queries.h"

namespace vexa::linuxhost {

struct MigrationRow {
    ArchiveTable table;
    ArchiveRow row;
};

struct MigrationResult {
    enum class Outcome {
        Copied,             // every row is on the server now; the installation uses it
        NumbersTaken,       // `conflicts` hold numbers the server uses; nothing was copied
        AwaitingConfirmation,  // `conflicts` are sent faxes waiting for a confirmation; nothing was copied
    };
    Outcome outcome = Outcome::Copied;
    int rows = 0;
    int files = 0;
    std::vector<MigrationRow> conflicts;
    // With new numbers: each row's old and new number.
    struct Renumbered {
        ArchiveTable table;
        std::int64_t from;
        std::int64_t to;
    };
    std::vector<Renumbered> renumbered;
    std::size_t localRows = 0;   // rows in the embedded archive
    std::size_t localFiles = 0;  // files in Attach
};

struct MigrationOptions {
    bool renumber = false;
    // Called before each row is copied: how many are done and how many there are to copy.
    std::function<void(std::size_t done, std::size_t total)> progress;
};

// Migrates the installation in `home` to the archive at `uri` (made where missing). Throws
// HostError when the embedded archive or the server fails, and linuxhost::LockHeld while a
// scan or watch runs for the installation.
MigrationResult MigrateArchive(const std::filesystem::path& home, const std::string& uri, const MigrationOptions& options);

}  // namespace vexa::linuxhost
