#include "adapters/postgres/archive_import.h"

#include <utility>
#include <vector>

#include "adapters/postgres/postgres_archive.h"
#include "adapters/postgres/postgres_session.h"
#include "archive/archive_names.h"

namespace vexa::postgres {
namespace {

// The FileId of `row` under the number `id`: a stored name of the old number gets the new number's
// (with the same extension); any other name is no file of ours and stays as it is.
std::string FileIdFor(ArchiveTable table, const ArchiveRow& row, std::int64_t id) {
    if (!IsOwnStoredFile(table, row)) return row.fileId;
    return row.fileId.substr(0, 1) + FormatId(id) + row.fileId.substr(1 + FormatId(row.id).size());
}

}  // namespace

ArchiveImport::ArchiveImport(const std::string& uri, std::string source)
    : source_(std::move(source)), connection_(PostgresArchiveEngine(uri).Open("")) {
    Session& session = SessionOf(*connection_);
    // Held by this connection until it closes: two imports numbering rows at once could each
    // find a number free and both take it.
    const PgResult locked = session.Run("SELECT pg_try_advisory_lock(hashtext('vexa import'))", {}, false);
    if (locked.Text(0, 0) != "t") {
        throw PgError(kStateMisuse, "Another migration into this archive is running; run it again once it is done.");
    }
}

ArchiveImport::~ArchiveImport() {
    try {
        connection_->Close();
    } catch (const HostError&) {
        // Closing the connection releases the lock on the server all the same.
    }
}

ArchiveImport::Place ArchiveImport::Locate(ArchiveTable table, const ArchiveRow& row) {
    Session& session = SessionOf(*connection_);
    const std::string name = ArchiveTableName(table);
    if (session.Run("SELECT 1 FROM vexa_imported WHERE source = $1 AND tbl = $2 AND old_id = $3", {source_, name, row.id},
                    false, true)
            .Rows() > 0) {
        return Place::Imported;
    }
    const PgResult there = session.Run("SELECT coalesce(fileid, ''), coalesce(number, ''), coalesce(subject, ''), "
                                       "coalesce(filename, ''), coalesce(description, ''), "
                                       "coalesce(to_char(date, 'YYYY-MM-DD HH24:MI:SS'), '') FROM " + name + " WHERE id = $1",
                                       {row.id}, false, true);
    if (there.Rows() == 0) return Place::Free;
    // Copied by a migration that kept no record of it: the same number, file, texts and time.
    const bool same = there.Text(0, 0) == row.fileId && there.Text(0, 1) == row.number &&
                      there.Text(0, 2) == row.subject && there.Text(0, 3) == row.fileName &&
                      there.Text(0, 4) == row.description && there.Text(0, 5) == row.date;
    if (!same) return Place::Taken;
    session.Run("INSERT INTO vexa_imported (source, tbl, old_id, new_id) VALUES ($1, $2, $3, $3) ON CONFLICT DO NOTHING",
                {source_, name, row.id}, false);
    return Place::Imported;
}

void ArchiveImport::Reserve(ArchiveTable table, std::int64_t id) {
    const std::string name = ArchiveTableName(table);
    // Raised only: numbers other writers drew already stay theirs.
    SessionOf(*connection_)
        .Run("SELECT setval(s, GREATEST(nextval(s), $1)) FROM (SELECT pg_get_serial_sequence('" + name + "', 'id') AS s) q",
             {id}, false);
}

ArchiveImport::Copied ArchiveImport::Copy(ArchiveTable table, const ArchiveRow& row, const std::optional<std::string>& file,
                                          bool renumber) {
    Session& session = SessionOf(*connection_);
    const std::string name = ArchiveTableName(table);
    const bool recv = table == ArchiveTable::Recv;
    ArchiveTransaction transaction(*connection_);
    Copied copied;
    copied.id = renumber ? std::stoll(session.Run("SELECT nextval(pg_get_serial_sequence('" + name + "', 'id'))", {}, false)
                                          .Text(0, 0))
                         : row.id;
    copied.fileId = FileIdFor(table, row, copied.id);
    const FieldValue last = recv ? FieldValue(row.isNew)
                                 : (row.confirm == ConfirmState::Unconfirmed ? FieldValue()
                                                                             : FieldValue(std::string(ConfirmText(row.confirm))));
    session.Run("INSERT INTO " + name + " (id, date, number, subject, description, filename, fileid, " +
                    (recv ? "new" : "confirm") + ") VALUES ($1, $2, $3, $4, $5, $6, $7, $8)",
                {copied.id, row.date.empty() ? FieldValue() : FieldValue(row.date), row.number, row.subject, row.description,
                 row.fileName, copied.fileId, last},
                false);
    session.Inserted(name, copied.id);
    if (file) {
        StoreFile(*connection_, copied.fileId, *file);
        copied.fileStored = true;
    }
    session.Run("INSERT INTO vexa_imported (source, tbl, old_id, new_id) VALUES ($1, $2, $3, $4)",
                {source_, name, row.id, copied.id}, false);
    transaction.Commit();
    return copied;
}

}  // namespace vexa::postgres
