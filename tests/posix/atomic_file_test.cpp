#include "adapters/posix/atomic_file.h"

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "host/host_error.h"
#include "tests/posix/file_size_limit.h"
#include "tests/posix/scoped_umask.h"
#include "tests/posix/temp_dir.h"

namespace vexa::posix {
namespace {

using test::CountEntries;
using test::FileSizeLimit;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

TEST(AtomicFileTest, CreatesFoldersAndReplacesKeepingPermissions) {
    TempDir dir;
    auto target = dir / "a" / "b" / "file.txt";
    WriteFileAtomically(target, "first");
    ASSERT_EQ(ReadBytes(target), "first");

    std::filesystem::permissions(target, std::filesystem::perms(0640));
    WriteFileAtomically(target, std::string("second\0with nul", 15));
    EXPECT_EQ(ReadBytes(target), std::string("second\0with nul", 15));
    EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(CountEntries(target.parent_path()), 1u) << "a temporary file was left behind";
}

TEST(AtomicFileTest, PrivateFilesAreTheOwnersAloneWhateverTheUmaskOrTheOldMode) {
    TempDir dir;
    const auto target = dir / "VXHELP.html";
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
        SCOPED_TRACE(mask);
        test::ScopedUmask umask(mask);
        std::filesystem::remove(target);
        WriteFileAtomically(target, "new", FileAccess::Private);
        EXPECT_EQ(test::PermissionBits(target), 0600u);
        std::filesystem::permissions(target, std::filesystem::perms(0644));
        WriteFileAtomically(target, "replaced", FileAccess::Private);
        EXPECT_EQ(test::PermissionBits(target), 0600u);
        EXPECT_EQ(ReadBytes(target), "replaced");
    }
}

TEST(AtomicFileTest, WriteFailingHalfwayKeepsOldFileAndLeavesNoTemporary) {
    TempDir dir;
    auto target = dir / "file.txt";
    WriteBytes(target, "old contents");
    {
        FileSizeLimit limit(16);
        try {
            WriteFileAtomically(target, std::string(100, 'n'));
            FAIL() << "the oversized write succeeded";
        } catch (const HostError& e) {
            EXPECT_EQ(e.Number(), EFBIG);
            EXPECT_EQ(e.Description(), "Can't write " + target.string() + ": File too large");
        }
    }
    EXPECT_EQ(ReadBytes(target), "old contents");
    EXPECT_EQ(CountEntries(dir.Path()), 1u);
}

}  // namespace
}  // namespace vexa::posix
