#include "adapters/posix/file_registry.h"

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/host_error.h"
#include "tests/posix/file_size_limit.h"
#include "tests/posix/temp_dir.h"

namespace vexa {
namespace {

using test::FileSizeLimit;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

const std::string kSample =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vexa]\n"
    "@=\"C:\\\\Program Files\\\\Vexa \\\"Fax\\\"\"\n"
    "\"InstallDir\"=\"/opt/vexa\"\n"
    "\"Greeting\"=\"Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93\"\n"
    "\"Count\"=dword:0000002a\n"
    "\"Expand\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,2f,00,c4,00,00,00\n"
    "\"Blob\"=hex:01,02,ff\n"
    "\"Empty\"=\"\"\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Vexa\\Settings]\n"
    "\"User\"=\"yes\"\n"
    "\n";

struct QueryResult {
    std::int32_t rc;
    std::uint32_t type;
    std::string bytes;
};

// Asks for the size first and then reads into a buffer of exactly that size, the way the
// installation-folder lookup does.
QueryResult QueryValue(Registry& registry, RegKey key, const char* name) {
    std::uint32_t type = 0xDEAD;
    std::uint32_t size = 0;
    std::int32_t rc = registry.RegQueryValueExA(key, name, nullptr, type, nullptr, size);
    if (rc != kRegSuccess) {
        return {rc, type, {}};
    }
    std::string buffer(size, '\x7F');
    std::uint32_t copied = size;
    rc = registry.RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<unsigned char*>(buffer.data()),
                                   copied);
    EXPECT_EQ(copied, size) << "probe and read disagree on the size of " << (name ? name : "@");
    return {rc, type, buffer.substr(0, copied)};
}

RegKey OpenKey(Registry& registry, RegKey root, const char* subKey) {
    RegKey opened = 0;
    EXPECT_EQ(registry.RegOpenKeyA(root, subKey, opened), kRegSuccess) << subKey;
    return opened;
}

// A key path of `levels` keys named "k", below a root.
std::string Nested(std::size_t levels) {
    std::string path;
    for (std::size_t i = 0; i < levels; ++i) path += "\\k";
    return path;
}

class FileRegistryTest : public ::testing::Test {
protected:
    FileRegistryTest() { WriteBytes(path_, kSample); }

    TempDir dir_;
    std::filesystem::path path_ = dir_ / "registry.reg";
};

TEST_F(FileRegistryTest, ProbeThenReadEachValue) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::uint32_t type;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {nullptr, kRegSz, "C:\\Program Files\\Vexa \"Fax\"\0"s},
        {"", kRegSz, "C:\\Program Files\\Vexa \"Fax\"\0"s},
        {"installdir", kRegSz, "/opt/vexa\0"s},
        {"Greeting", kRegSz, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93\0"s},
        {"Count", kRegDword, "\x2A\0\0\0"s},
        {"Expand", kRegExpandSz, "%HOME%/\xC3\x84\0"s},
        {"Blob", kRegBinary, "\x01\x02\xFF"s},
        {"Empty", kRegSz, "\0"s},
    };
    FileRegistry registry(path_);
    RegKey key = OpenKey(registry, kHkeyLocalMachine, "SOFTWARE\\Vexa");
    for (const Case& c : cases) {
        QueryResult result = QueryValue(registry, key, c.name);
        EXPECT_EQ(result.rc, kRegSuccess) << (c.name ? c.name : "(null)");
        EXPECT_EQ(result.type, c.type) << (c.name ? c.name : "(null)");
        EXPECT_EQ(result.bytes, c.bytes) << (c.name ? c.name : "(null)");
    }
}

TEST_F(FileRegistryTest, TooSmallBufferGivesMoreDataAndTheSizeNeeded) {
    FileRegistry registry(path_);
    RegKey key = OpenKey(registry, kHkeyLocalMachine, "SOFTWARE\\Vexa");
    for (std::uint32_t capacity : {0u, 1u, 9u}) {
        std::string buffer(16, 'x');
        std::uint32_t type = 0;
        std::uint32_t size = capacity;
        EXPECT_EQ(registry.RegQueryValueExA(key, "InstallDir", nullptr, type,
                                            reinterpret_cast<unsigned char*>(buffer.data()), size),
                  kRegMoreData);
        EXPECT_EQ(size, 10u);
        EXPECT_EQ(type, kRegSz);
        EXPECT_EQ(buffer, std::string(16, 'x')) << "bytes were written past a too-small buffer";
    }
}

TEST_F(FileRegistryTest, FailuresGiveWindowsCodes) {
    FileRegistry registry(path_);
    RegKey key = OpenKey(registry, kHkeyLocalMachine, "SOFTWARE\\Vexa");
    RegKey opened = 0;
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(registry.RegOpenKeyA(kHkeyLocalMachine, "SOFTWARE\\Missing", opened), kRegFileNotFound);
    EXPECT_EQ(registry.RegOpenKeyA(kHkeyLocalMachine, "SOFTWARE\\Vexa\\Settings", opened), kRegFileNotFound);
    EXPECT_EQ(registry.RegOpenKeyA(kHkeyCurrentUser, "SOFTWARE\\Vexa\\Nope", opened), kRegFileNotFound);
    EXPECT_EQ(registry.RegOpenKeyA(0x1234, "SOFTWARE", opened), kRegInvalidHandle);
    EXPECT_EQ(registry.RegQueryValueExA(key, "Missing", nullptr, type, nullptr, size), kRegFileNotFound);
    EXPECT_EQ(registry.RegQueryValueExA(0x1234, "InstallDir", nullptr, type, nullptr, size), kRegInvalidHandle);
    EXPECT_EQ(registry.RegCloseKey(0x1234), kRegInvalidHandle);
    EXPECT_EQ(registry.RegCloseKey(key), kRegSuccess);
    EXPECT_EQ(registry.RegCloseKey(key), kRegInvalidHandle);
    EXPECT_EQ(registry.RegQueryValueExA(key, "InstallDir", nullptr, type, nullptr, size), kRegInvalidHandle);
}

TEST_F(FileRegistryTest, OpenedHandlesAreDistinctAndNest) {
    FileRegistry registry(path_);
    RegKey software = OpenKey(registry, kHkeyLocalMachine, "software");
    RegKey vexa = OpenKey(registry, software, "VEXA");
    RegKey again = OpenKey(registry, kHkeyLocalMachine, "Software\\Vexa");
    RegKey settings = OpenKey(registry, kHkeyCurrentUser, "Software\\Vexa\\Settings");
    std::vector<RegKey> handles = {software, vexa, again, settings};
    for (std::size_t i = 0; i < handles.size(); ++i) {
        EXPECT_NE(handles[i], 0u);
        EXPECT_NE(handles[i], kHkeyLocalMachine);
        EXPECT_NE(handles[i], kHkeyCurrentUser);
        for (std::size_t j = i + 1; j < handles.size(); ++j) {
            EXPECT_NE(handles[i], handles[j]);
        }
    }
    EXPECT_EQ(QueryValue(registry, vexa, "InstallDir").bytes, std::string("/opt/vexa", 10));
    EXPECT_EQ(QueryValue(registry, settings, "User").bytes, std::string("yes", 4));
}

TEST(FileRegistryFileTest, MissingFileIsAnEmptyRegistry) {
    TempDir dir;
    FileRegistry registry(dir / "registry.reg");
    RegKey opened = 0;
    EXPECT_EQ(registry.RegOpenKeyA(kHkeyLocalMachine, "SOFTWARE", opened), kRegFileNotFound);
    EXPECT_FALSE(std::filesystem::exists(dir / "registry.reg"));
}

TEST(FileRegistryFileTest, WrittenValuesReadBackFromTheFile) {
    TempDir dir;
    auto path = dir / "config" / "registry.reg";
    FileRegistry writer(path);
    writer.SetString(kHkeyLocalMachine, "SOFTWARE\\Vexa", "", "C:\\Vexa \"x\"");
    writer.SetString(kHkeyLocalMachine, "SOFTWARE\\Vexa", "InstallDir", "/opt/vexa");
    writer.SetDword(kHkeyLocalMachine, "SOFTWARE\\Vexa", "Version", 0x01020304);
    writer.SetString(kHkeyLocalMachine, "software\\vexa", "installdir", "/usr/lib/vexa");

    EXPECT_EQ(ReadBytes(path),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vexa]\n"
              "@=\"C:\\\\Vexa \\\"x\\\"\"\n"
              "\"InstallDir\"=\"/usr/lib/vexa\"\n"
              "\"Version\"=dword:01020304\n"
              "\n");

    FileRegistry reader(path);
    RegKey key = OpenKey(reader, kHkeyLocalMachine, "SOFTWARE\\Vexa");
    EXPECT_EQ(QueryValue(reader, key, nullptr).bytes, std::string("C:\\Vexa \"x\"", 12));
    EXPECT_EQ(QueryValue(reader, key, "InstallDir").bytes, std::string("/usr/lib/vexa", 14));
    QueryResult version = QueryValue(reader, key, "Version");
    EXPECT_EQ(version.type, kRegDword);
    EXPECT_EQ(version.bytes, std::string("\x04\x03\x02\x01", 4));
}

TEST(FileRegistryFileTest, AwkwardStringsRoundTripThroughTheFile) {
    const std::vector<std::string> values = {
        "", "\\", "\"", "\\\"", "trailing\\", "a\nb", "crlf\r\n", "\xE2\x9C\x93 \xF0\x9F\x93\xA0 \xC3\xA9",
        "[HKEY_LOCAL_MACHINE\\Fake]", "\"Name\"=dword:00000001",
        // A line break sends the text through UTF-16 in the file; the fax sign needs a surrogate pair.
        "Gr\xC3\xBC\xC3\x9F" "e\n\xF0\x9F\x93\xA0 \\ \"",
    };
    TempDir dir;
    auto path = dir / "registry.reg";
    {
        FileRegistry writer(path);
        for (std::size_t i = 0; i < values.size(); ++i) {
            writer.SetString(kHkeyCurrentUser, "Software\\Vexa", "Value \"" + std::to_string(i) + "\"", values[i]);
        }
    }
    FileRegistry reader(path);
    RegKey key = OpenKey(reader, kHkeyCurrentUser, "Software\\Vexa");
    for (std::size_t i = 0; i < values.size(); ++i) {
        QueryResult result = QueryValue(reader, key, ("Value \"" + std::to_string(i) + "\"").c_str());
        EXPECT_EQ(result.type, kRegSz) << "value #" << i;
        EXPECT_EQ(result.bytes, values[i] + '\0') << "value #" << i;
    }
    RegKey fake = 0;
    EXPECT_EQ(reader.RegOpenKeyA(kHkeyLocalMachine, "Fake", fake), kRegFileNotFound);
}

TEST_F(FileRegistryTest, SavingKeepsUntouchedValuesVerbatim) {
    FileRegistry(path_).SetString(kHkeyLocalMachine, "SOFTWARE\\Vexa", "Added", "x");
    std::string text = ReadBytes(path_);
    for (const char* line : {"\"Expand\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,2f,00,c4,00,00,00\n",
                             "\"Blob\"=hex:01,02,ff\n", "\"Count\"=dword:0000002a\n",
                             "[HKEY_CURRENT_USER\\Software\\Vexa\\Settings]\n\"User\"=\"yes\"\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "missing from\n" << text;
    }
    FileRegistry reader(path_);
    RegKey key = OpenKey(reader, kHkeyLocalMachine, "SOFTWARE\\Vexa");
    EXPECT_EQ(QueryValue(reader, key, "Added").bytes, std::string("x", 2));
    EXPECT_EQ(QueryValue(reader, key, "Greeting").bytes, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93" + std::string(1, '\0'));
}

TEST_F(FileRegistryTest, FailedSaveThrowsAndKeepsTheOldState) {
    FileRegistry registry(path_);
    {
        FileSizeLimit limit(32);
        EXPECT_THROW(registry.SetString(kHkeyLocalMachine, "SOFTWARE\\Vexa", "InstallDir", "/elsewhere"), HostError);
        EXPECT_THROW(registry.SetString(kHkeyLocalMachine, "SOFTWARE\\Vexa", "NewValue", "v"), HostError);
        EXPECT_THROW(registry.SetDword(kHkeyLocalMachine, "SOFTWARE\\New\\Deeper", "N", 1), HostError);
    }
    EXPECT_EQ(ReadBytes(path_), kSample);
    RegKey key = OpenKey(registry, kHkeyLocalMachine, "SOFTWARE\\Vexa");
    EXPECT_EQ(QueryValue(registry, key, "InstallDir").bytes, std::string("/opt/vexa", 10));
    EXPECT_EQ(QueryValue(registry, key, "NewValue").rc, kRegFileNotFound);
    RegKey opened = 0;
    EXPECT_EQ(registry.RegOpenKeyA(kHkeyLocalMachine, "SOFTWARE\\New", opened), kRegFileNotFound);

    TempDir dir;
    WriteBytes(dir / "blocker", "");
    FileRegistry blocked(dir / "blocker" / "registry.reg");
    try {
        blocked.SetString(kHkeyLocalMachine, "SOFTWARE\\Vexa", "InstallDir", "/x");
        FAIL() << "saving below a regular file succeeded";
    } catch (const HostError& e) {
        EXPECT_EQ(e.Number(), ENOTDIR);
    }
}

// regedit writes UTF-16LE with a byte order mark, CRLF line ends and wrapped hex lists.
TEST(FileRegistryFileTest, RegeditExportIsRead) {
    const std::u16string text =
        u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vexa]\r\n"
        u"\"Folder\"=\"C:\\\\Faxe für Büro\"\r\n"
        u"\"Path\"=hex(2):43,00,3a,00,5c,00,\\\r\n"
        u"  41,00,00,00\r\n";
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    TempDir dir;
    WriteBytes(dir / "export.reg", bytes);
    FileRegistry registry(dir / "export.reg");
    RegKey key = OpenKey(registry, kHkeyLocalMachine, "SOFTWARE\\Vexa");
    EXPECT_EQ(QueryValue(registry, key, "Folder").bytes, "C:\\Faxe f\xC3\xBCr B\xC3\xBCro" + std::string(1, '\0'));
    QueryResult path = QueryValue(registry, key, "Path");
    EXPECT_EQ(path.type, kRegExpandSz);
    EXPECT_EQ(path.bytes, std::string("C:\\A\0", 5));
}

TEST(FileRegistryFileTest, DeletionEntriesLeaveKeysAndValuesAbsent) {
    TempDir dir;
    WriteBytes(dir / "registry.reg",
               "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vexa]\n\"A\"=\"1\"\n\"B\"=\"2\"\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n\"C\"=\"3\"\n"
               "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vexa]\n\"a\"=-\n");
    FileRegistry registry(dir / "registry.reg");
    RegKey key = OpenKey(registry, kHkeyLocalMachine, "SOFTWARE\\Vexa");
    EXPECT_EQ(QueryValue(registry, key, "A").rc, kRegFileNotFound);
    EXPECT_EQ(QueryValue(registry, key, "B").bytes, std::string("2", 2));
    RegKey old = 0;
    EXPECT_EQ(registry.RegOpenKeyA(kHkeyLocalMachine, "SOFTWARE\\Old", old), kRegFileNotFound);
}

TEST(FileRegistryFileTest, MalformedFileThrowsNamingTheLine) {
    struct Case {
        std::string text;
        std::string lineMention;
    };
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    const std::vector<Case> cases = {
        {"REGEDIT4\n", "line 1 "},
        {header + "\"A\"=\"before any key\"\n", "line 3 "},
        {header + "[HKEY_NOWHERE\\Vexa]\n", "line 3 "},
        {header + "[HKEY_LOCAL_MACHINE\\Vexa\n", "line 3 "},
        {header + "[HKEY_LOCAL_MACHINE\\Vexa]\n\"A\"=dword:123456789\n", "line 4 "},
        {header + "[HKEY_LOCAL_MACHINE\\Vexa]\n\"A\"=hex:1g\n", "line 4 "},
        {header + "[HKEY_LOCAL_MACHINE\\Vexa]\n\"A\"=\"open\n", "line 4 "},
        {header + "[HKEY_LOCAL_MACHINE\\Vexa]\nA=\"unquoted name\"\n", "line 4 "},
        // Deeper than Windows allows; 200000 levels used to exhaust the stack.
        {header + "[HKEY_CURRENT_USER" + Nested(513) + "]\n", "line 3 "},
        {header + "[HKEY_CURRENT_USER" + Nested(200000) + "]\n", "line 3 "},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteBytes(dir / "registry.reg", c.text);
        try {
            FileRegistry registry(dir / "registry.reg");
            ADD_FAILURE() << "accepted:\n" << c.text;
        } catch (const HostError& e) {
            EXPECT_NE(e.Description().find(c.lineMention), std::string::npos) << e.Description();
            EXPECT_NE(e.Description().find((dir / "registry.reg").string()), std::string::npos);
        }
    }
}

TEST(FileRegistryFileTest, KeysNestOnlyAsDeepAsWindowsAllows) {
    TempDir dir;
    const std::string deepest = Nested(512).substr(1);
    FileRegistry registry(dir / "registry.reg");
    registry.SetString(kHkeyCurrentUser, deepest, "Name", "deep");
    EXPECT_THROW(registry.SetString(kHkeyCurrentUser, deepest + "\\k", "Name", "deeper"), HostError);
    RegKey opened = 0;
    ASSERT_EQ(registry.RegOpenKeyA(kHkeyCurrentUser, Nested(511).substr(1).c_str(), opened), kRegSuccess);
    EXPECT_THROW(registry.SetString(opened, "k\\k", "Name", "deeper"), HostError);
    registry.SetString(opened, "k", "Other", "still deep");

    FileRegistry reread(dir / "registry.reg");
    const RegKey key = OpenKey(reread, kHkeyCurrentUser, deepest.c_str());
    EXPECT_EQ(QueryValue(reread, key, "Name").bytes, std::string("deep", 5));
    EXPECT_EQ(QueryValue(reread, key, "Other").bytes, std::string("still deep", 11));
    EXPECT_EQ(reread.RegOpenKeyA(kHkeyCurrentUser, (deepest + "\\k").c_str(), opened), kRegFileNotFound);
}

}  // namespace
}  // namespace vexa
