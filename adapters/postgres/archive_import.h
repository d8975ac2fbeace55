// Rows of another archive (an installation's embedded one) copied into the server archive, each
// with its file in one transaction, so that an import cut short leaves whole rows. The server
// remembers what it imported from which source (table vexa_imported: source, table, old id, new
// id, written in the row's own transaction), so an import run again copies only what is missing
// and never a row twice, whether or not it gave the row a new number. Rows imported before that
// record existed are known by their number, stored file and texts.
//
// A number the server archive already uses for a row of its own is "taken": the row can only come
// in under a new number, which the caller must ask for (Copy with `renumber`). Only one import
// runs at a time on a server (an advisory lock held by the ArchiveImport).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "archive/archive_engine.h"
#include "archive/archive_queries.h"

namespace vexa::postgres {

class ArchiveImport {
public:
    // Connects to the archive at `uri` (which must exist: CreatePostgresArchive) and waits for
    // any other import to end. `source` names the archive the rows come from, the same on every run.
    ArchiveImport(const std::string& uri, std::string source);
    ~ArchiveImport();
    ArchiveImport(const ArchiveImport&) = delete;
    ArchiveImport& operator=(const ArchiveImport&) = delete;

    enum class Place {
        Imported,  // copied on an earlier run
        Free,      // its number is free on the server: it keeps it
        Taken,     // its number is another row's on the server
    };
    Place Locate(ArchiveTable table, const ArchiveRow& row);

    // Keeps new rows of other writers from drawing numbers up to `id` in `table`, which rows
    // copied with their own numbers are about to take.
    void Reserve(ArchiveTable table, std::int64_t id);

    struct Copied {
        std::int64_t id = 0;
        std::string fileId;
        bool fileStored = false;
    };
    // Copies `row` with the file at `file` (when given, under the row's FileId), keeping its
    // number, or under the next free one with `renumber`: its FileId then names the new number
    // when it is a stored name of the old one. Throws HostError, and then nothing of it is stored.
    Copied Copy(ArchiveTable table, const ArchiveRow& row, const std::optional<std::string>& file, bool renumber);

private:
    std::string source_;
    std::unique_ptr<ArchiveConnection> connection_;
};

}  // namespace vexa::postgres
