// Attachment files on Linux (existence, flushing, removal) and opening files with xdg-open.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/stat.h>

#include "adapters/posix/posix_file_store.h"
#include "adapters/posix/xdg_open_shell.h"
#include "host/host_error.h"
#include "tests/posix/scoped_umask.h"
#include "tests/posix/temp_dir.h"

namespace vexa::posix {
namespace {

TEST(PosixFileStore, ExistsFlushRemove) {
    test::TempDir dir;
    PosixFileStore store;
    const std::string path = (dir / "R0000001.tif").string();
    EXPECT_FALSE(store.Exists(path));
    EXPECT_THROW(store.Flush(path), HostError);
    std::ofstream(path) << "fax";
    EXPECT_TRUE(store.Exists(path));
    std::filesystem::permissions(path, std::filesystem::perms(0644));
    EXPECT_NO_THROW(store.Flush(path));
    EXPECT_EQ(test::PermissionBits(path), 0600u) << "a flushed fax is the user's alone";
    store.Remove(path);
    EXPECT_FALSE(store.Exists(path));
    EXPECT_NO_THROW(store.Remove(path));  // already gone
    // A dangling link still takes the name: storing under it would write elsewhere.
    std::filesystem::create_symlink(dir / "elsewhere", dir / "R0000002.tif");
    EXPECT_TRUE(store.Exists((dir / "R0000002.tif").string()));
}

// In a group the stored names come only after the archive's commit (FinishGroup), and an
// aborted group takes its files away; a file removed within the group is neither synced nor named.
TEST(PosixFileStore, GroupNamesItsFilesAfterTheCommitOrRemovesThem) {
    test::TempDir dir;
    PosixFileStore store;
    const auto pending = [&](int n) { return (dir / ("R000000" + std::to_string(n) + ".tif.partial")).string(); };
    const auto stored = [&](int n) { return (dir / ("R000000" + std::to_string(n) + ".tif")).string(); };
    for (const bool commit : {true, false}) {
        SCOPED_TRACE(commit ? "committed" : "aborted");
        store.BeginGroup();
        // More files than are synced one by one: the file system is synced once.
        for (int n = 1; n <= 9; ++n) {
            std::ofstream(pending(n)) << "fax " << n;
            store.Flush(pending(n));
            store.Rename(pending(n), stored(n));
        }
        store.Remove(pending(9));  // a store rolled back within the group
        EXPECT_TRUE(store.Exists(pending(1)));
        EXPECT_FALSE(store.Exists(stored(1)));
        if (commit) {
            store.SyncGroup();
            store.FinishGroup();
        } else {
            store.AbortGroup();
        }
        for (int n = 1; n <= 8; ++n) {
            EXPECT_EQ(store.Exists(stored(n)), commit) << n;
            EXPECT_FALSE(store.Exists(pending(n))) << n;
            store.Remove(stored(n));
        }
        EXPECT_FALSE(store.Exists(stored(9)));
    }
}

TEST(XdgOpenShell, StartsTheOpenerWithThePathAndDoesNotWait) {
    test::TempDir dir;
    const auto opener = dir / "fake-opener";
    const auto record = dir / "opened";
    // The opener records its argument only after a moment, so a call that waited would see it.
    std::ofstream(opener) << "#!/bin/sh\nsleep 0.2\nprintf '%s' \"$1\" > '" << record.string() << ".tmp'\nmv '"
                          << record.string() << ".tmp' '" << record.string() << "'\n";
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    const auto archive = dir / "Corvane.mdb";
    std::ofstream(archive) << "archive";

    XdgOpenShell shell(opener.string());
    EXPECT_EQ(shell.Open(archive.string()), 42);
    EXPECT_FALSE(std::filesystem::exists(record));
    for (int i = 0; i < 500 && !std::filesystem::exists(record); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(test::ReadBytes(record), archive.string());
}

TEST(XdgOpenShell, FailuresFollowTheShellsCodes) {
    test::TempDir dir;
    const auto existing = dir / "VXHELP.exe";
    std::ofstream(existing) << "help";
    EXPECT_EQ(XdgOpenShell((dir / "no-such-opener").string()).Open(existing.string()), 31);
    EXPECT_EQ(XdgOpenShell("vexa-no-such-program-on-path").Open(existing.string()), 31);
    EXPECT_EQ(XdgOpenShell("true").Open((dir / "missing.exe").string()), 2);
}

}  // namespace
}  // namespace vexa::posix
