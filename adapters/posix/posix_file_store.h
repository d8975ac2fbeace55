// The attachment files on Linux: existence, fsync before the row is committed, renaming without
// replacing, removal, listing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "archive/file_store.h"

namespace vexa::posix {

class PosixFileStore final : public FileStore {
public:
    PosixFileStore();
    ~PosixFileStore() override;
    PosixFileStore(const PosixFileStore&) = delete;
    PosixFileStore& operator=(const PosixFileStore&) = delete;

    bool Exists(const std::string& path) override;
    // Makes the file readable and writable by its owner only, then fsyncs it and its folder, so a
    // committed row never points at a lost file nor one that others can read. In a group the
    // syncs wait for SyncGroup.
    void Flush(const std::string& path) override;
    void Remove(const std::string& path) override;
    // renameat2 with RENAME_NOREPLACE (link and unlink where the file system lacks it). The new
    // name is not synced: the pending name it replaces is, and start-up names it again after a crash.
    // In a group the rename waits for FinishGroup, after the archive's commit.
    void Rename(const std::string& from, const std::string& to) override;
    std::vector<std::string> List(const std::string& folder) override;

    // Group commit, beside the archive engine's: the files the stores of a group flush are made
    // durable together by SyncGroup (before the archive commits their rows), and the stored names
    // they get after their rows' commits are given by FinishGroup (after the archive's commit).
    // AbortGroup removes the group's files instead: their rows were never committed.
    void BeginGroup();
    // Throws HostError when a file could not be written to disk.
    void SyncGroup();
    // A rename that fails leaves the pending name, which the next connection's recovery gives.
    void FinishGroup() noexcept;
    void AbortGroup() noexcept;
    // The group's commit has an unknown outcome: its files keep their pending names, for the
    // next connection's recovery to name or remove as their rows say.
    void LeaveGroup() noexcept;

private:
    struct Group;
    std::unique_ptr<Group> group_;
};

}  // namespace vexa::posix
