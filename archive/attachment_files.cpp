// The stored attachment files and their rows. A file is saved under its pending name while its
// row is written, and takes its stored name only after the commit; so a crash at any moment
// leaves either a pending file (renamed or removed at the next start-up) or a complete file with
// its committed row, never a stored name without its row that would block the number's reuse.

#include "addin/connect.h"
#include "archive/archive_names.h"
#include "host/mail_item.h"

namespace vexa {
namespace {

std::string WithoutPendingSuffix(const std::string& path) {
    const std::string suffix = kPendingSuffix;
    return path.ends_with(suffix) ? path.substr(0, path.size() - suffix.size()) : path;
}

// Whether a committed row names the stored file `fileId`, inside an open transaction: a no-op
// update counts it (the engines' one way of asking without a query interface).
bool RowNamesFile(ArchiveConnection& archive, const std::string& fileId) {
    const auto owner = OwnerOfStoredFile(fileId);
    if (!owner) return false;
    return archive.Execute(std::string("UPDATE ") + owner->table + " SET FileId = FileId WHERE Id = ? AND FileId = ?",
                           {FieldValue(owner->id), FieldValue(fileId)}) == 1;
}

}  // namespace

std::string Connect::SaveAttachment(Attachment& attachment, const std::string& fileId) {
    const std::string folder = platform_.fileSystem.BuildPath(sAppPath, kAttachFolder);
    const std::string path = platform_.fileSystem.BuildPath(folder, fileId);
    // An archive replaced by an older copy hands out numbers whose files exist: never overwrite.
    if (platform_.files.Exists(path)) {
        throw HostError(error::kFileAlreadyExists, "File already exists: " + path);
    }
    const std::string pending = path + kPendingSuffix;
    // A pending file of this name was left by an attempt whose row was never committed (the
    // number is handed out again): it is ours to replace.
    platform_.files.Remove(pending);
    try {
        attachment.SaveAsFile(pending);
        platform_.files.Flush(pending);
    } catch (...) {
        DiscardFile(pending);
        throw;
    }
    return pending;
}

void Connect::PublishFile(const std::string& pendingPath) {
    const std::string path = WithoutPendingSuffix(pendingPath);
    try {
        platform_.files.Rename(pendingPath, path);
    } catch (...) {
        // Another process's start-up may have given it its name already.
        if (platform_.files.Exists(path) && !platform_.files.Exists(pendingPath)) return;
        throw;
    }
}

void Connect::DiscardFile(const std::string& path) noexcept {
    if (path.empty()) return;
    try {
        platform_.files.Remove(path);
    } catch (...) {
    }
}

std::vector<bool> Connect::StoredFilesCommitted(const std::vector<std::string>& fileIds) {
    ArchiveConnection& archive = Deref(oConn);
    // Rolled back when it ends: the check writes nothing.
    ArchiveTransaction transaction(archive);
    std::vector<bool> committed;
    committed.reserve(fileIds.size());
    for (const std::string& fileId : fileIds) committed.push_back(RowNamesFile(archive, fileId));
    return committed;
}

void Connect::RecoverPendingFiles() noexcept {
    try {
        ArchiveConnection& archive = Deref(oConn);
        // The transaction holds the archive's write lock, so no store is between writing its
        // pending file and committing its row while the folder is looked at.
        ArchiveTransaction transaction(archive);
        const std::string folder = platform_.fileSystem.BuildPath(sAppPath, kAttachFolder);
        for (const std::string& name : platform_.files.List(folder)) {
            const std::string fileId = WithoutPendingSuffix(name);
            if (fileId == name) continue;
            if (!OwnerOfStoredFile(fileId)) continue;  // not a name we make: not ours to touch
            const std::string pending = platform_.fileSystem.BuildPath(folder, name);
            const std::string path = platform_.fileSystem.BuildPath(folder, fileId);
            const bool committed = RowNamesFile(archive, fileId);
            if (committed && !platform_.files.Exists(path)) {
                platform_.files.Rename(pending, path);
            } else if (!committed) {
                platform_.files.Remove(pending);
            }
        }
        transaction.Commit();
    } catch (...) {
        // Recovery is a courtesy: storing works without it, and start-up must not fail over it.
    }
}

}  // namespace vexa
