// The installation record: what `vexa init` writes and start-up reads back through the registry
// calls, and the registry.reg of earlier installations taken over at the first start.
#include "adapters/posix/record_registry.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "adapters/posix/legacy_registry_file.h"
#include "host/host_error.h"
#include "tests/posix/temp_dir.h"

namespace vexa::posix {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

constexpr const char* kAppPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll";
constexpr const char* kSection = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll]";
constexpr const char* kRegHeader = "Windows Registry Editor Version 5.00\n\n";

// The lookup start-up makes: open the key, ask for the default value's size, then its text.
std::optional<std::string> RecordedModule(Registry& registry) {
    RegKey key = 0;
    if (registry.RegOpenKeyA(kHkeyLocalMachine, kAppPathsKey, key) != kRegSuccess) return std::nullopt;
    std::uint32_t type = kRegNone;
    std::uint32_t size = 0;
    std::optional<std::string> text;
    if (registry.RegQueryValueExA(key, nullptr, nullptr, type, nullptr, size) == kRegSuccess && type == kRegSz) {
        std::string buffer(size, '?');
        if (registry.RegQueryValueExA(key, nullptr, nullptr, type, reinterpret_cast<unsigned char*>(buffer.data()),
                                      size) == kRegSuccess) {
            EXPECT_EQ(buffer.size(), size);
            EXPECT_EQ(buffer.back(), '\0');
            text = buffer.substr(0, buffer.find('\0'));
        }
    }
    EXPECT_EQ(registry.RegCloseKey(key), kRegSuccess);
    return text;
}

std::string DescriptionOfFailure(const std::filesystem::path& path, const std::string& contents) {
    try {
        RecordRegistry record(path, contents);
    } catch (const HostError& e) {
        return e.Description();
    }
    return "(read)";
}

struct Reading {
    std::string contents;
    std::optional<std::string> module;
};

TEST(InstallationRecordTest, ReadsTheRecordedModule) {
    const std::string section = kSection;
    const std::vector<Reading> cases = {
        {section + "\n@=\"/home/u/.local/share/vexa/Corvane.dll\"\n", "/home/u/.local/share/vexa/Corvane.dll"},
        {"; written by hand\n\n[hkey_local_machine\\software\\microsoft\\windows\\currentversion\\app paths\\corvane.dll]\n"
         "Path = /opt/Vexa Büro/Corvane.dll\r\n",
         "/opt/Vexa Büro/Corvane.dll"},
        {section + "\nPath=/second/Corvane.dll\n@=/first/Corvane.dll\n", "/first/Corvane.dll"},
        {section + "\n@=\"/a \\\"q\\\" \\\\b/Corvane.dll\"\n", "/a \"q\" \\b/Corvane.dll"},
        {section + "\nOther=/x/Corvane.dll\n", std::nullopt},
        {"[HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll]\n@=/x/Corvane.dll\n",
         std::nullopt},
        {"", std::nullopt},
    };
    for (const Reading& c : cases) {
        SCOPED_TRACE(c.contents);
        RecordRegistry record("registry.ini", c.contents);
        EXPECT_EQ(RecordedModule(record), c.module);
    }
}

TEST(InstallationRecordTest, AnswersTheRegistryCallsAsWindowsDoes) {
    RecordRegistry record("registry.ini", std::string(kSection) + "\n@=/v/Corvane.dll\n");
    RegKey key = 0;
    ASSERT_EQ(record.RegOpenKeyA(kHkeyLocalMachine, kAppPathsKey, key), kRegSuccess);
    std::uint32_t type = kRegNone;
    std::uint32_t size = 4;
    unsigned char small[4] = {};
    EXPECT_EQ(record.RegQueryValueExA(key, nullptr, nullptr, type, small, size), kRegMoreData);
    EXPECT_EQ(size, 15u);  // "/v/Corvane.dll" and its NUL
    EXPECT_EQ(record.RegQueryValueExA(key, "Missing", nullptr, type, nullptr, size), kRegFileNotFound);
    EXPECT_EQ(record.RegQueryValueExA(0x1234, nullptr, nullptr, type, nullptr, size), kRegInvalidHandle);
    RegKey other = 0;
    EXPECT_EQ(record.RegOpenKeyA(kHkeyLocalMachine, "SOFTWARE\\Missing", other), kRegFileNotFound);
    EXPECT_EQ(record.RegOpenKeyA(0x1234, "SOFTWARE", other), kRegInvalidHandle);
    EXPECT_EQ(record.RegCloseKey(key), kRegSuccess);
    EXPECT_EQ(record.RegCloseKey(key), kRegInvalidHandle);
    EXPECT_EQ(record.RegQueryValueExA(key, nullptr, nullptr, type, nullptr, size), kRegInvalidHandle);
}

TEST(InstallationRecordTest, ADamagedRecordIsRefusedWithTheLine) {
    const std::filesystem::path path = "/cfg/vexa/registry.ini";
    EXPECT_EQ(DescriptionOfFailure(path, "not a registry file\n"),
              "Can't read /cfg/vexa/registry.ini: line 1 is not valid because it is neither a [key] nor a name=value line");
    EXPECT_EQ(DescriptionOfFailure(path, std::string(kSection) + "\n\n[HKEY_LOCAL_MACHINE\\Open\n"),
              "Can't read /cfg/vexa/registry.ini: line 3 is not valid because it is neither a [key] nor a name=value line");
    EXPECT_EQ(DescriptionOfFailure(path, std::string(kSection) + "\n# note\n; note\n@=/v/Corvane.dll\n"), "(read)");
}

TEST(InstallationRecordTest, InitRecordsTheModuleAndKeepsTheRest) {
    TempDir dir;
    const std::filesystem::path path = dir / "vexa" / "registry.ini";
    RecordRegistry(path).SetDefaultValue(kHkeyLocalMachine, kAppPathsKey, "/first/Corvane.dll");
    EXPECT_EQ(ReadBytes(path), std::string(kSection) + "\n@=\"/first/Corvane.dll\"\n");

    WriteBytes(path, "; mine\n" + ReadBytes(path));
    RecordRegistry(path).SetDefaultValue(kHkeyLocalMachine, kAppPathsKey, "/new \"place\"/Corvane.dll");
    EXPECT_EQ(ReadBytes(path), "; mine\n" + std::string(kSection) + "\n@=\"/new \\\"place\\\"/Corvane.dll\"\n");
    RecordRegistry reread(path);
    EXPECT_EQ(RecordedModule(reread), "/new \"place\"/Corvane.dll");
}

struct OldFile {
    std::string contents;
    std::optional<std::string> module;  // nullopt with `failure`: refused
    std::string failure;
};

TEST(InstallationRecordTest, AnOldRegistryFileIsTakenOverOnce) {
    const std::string header = kRegHeader;
    const std::string key = std::string(kSection) + "\n";
    const std::vector<OldFile> cases = {
        // What vexa init wrote.
        {header + key + "@=\"/home/u/.local/share/vexa/Corvane.dll\"\n\n", "/home/u/.local/share/vexa/Corvane.dll", ""},
        {header + key + "@=\"/srv/a \\\"q\\\" \\\\b/Corvane.dll\"\n\n", "/srv/a \"q\" \\b/Corvane.dll", ""},
        {"\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n; by hand\r\n" + std::string(kSection) +
             "\r\n\"Path\"=\"/opt/Vexa/Corvane.dll\"\r\n",
         "/opt/Vexa/Corvane.dll", ""},
        {"", std::nullopt, ""},
        {"not a registry file\n", std::nullopt,
         "line 1 is not valid because it does not start with \"Windows Registry Editor Version 5.00\""},
        {header + key + "@=dword:00000001\n", std::nullopt,
         "line 4 is not valid because the value is not a single quoted string"},
        {header + key + "@=\"/unclosed\\\"\n", std::nullopt,
         "line 4 is not valid because the value is not a single quoted string"},
        {header + key + "\"InstallDir\"=\"/x\"\n", std::nullopt,
         "line 4 is not valid because it is neither a key nor the key's @ or \"Path\" value"},
        {header + "@=\"/x/Corvane.dll\"\n", std::nullopt, "line 3 is not valid because the value is not below a key"},
        {header + "[HKEY_LOCAL_MACHINE\\SOFTWARE\n", std::nullopt,
         "line 3 is not valid because the key name has no closing ']'"},
    };
    for (const OldFile& c : cases) {
        SCOPED_TRACE(c.contents);
        TempDir dir;
        const std::filesystem::path legacy = dir / "vexa" / "registry.reg";
        const std::filesystem::path path = dir / "vexa" / "registry.ini";
        WriteBytes(legacy, c.contents);
        if (!c.failure.empty()) {
            try {
                ImportRegistryFile(legacy, path);
                ADD_FAILURE() << "taken over";
            } catch (const HostError& e) {
                EXPECT_EQ(e.Description(), "Can't read " + legacy.string() + ": " + c.failure);
            }
            EXPECT_FALSE(std::filesystem::exists(path));
            continue;
        }
        ImportRegistryFile(legacy, path);
        RecordRegistry record(path);
        EXPECT_EQ(RecordedModule(record), c.module);
        EXPECT_EQ(ReadBytes(legacy), c.contents);  // left for an older vexa
        // Read once: from now on the record is what counts.
        WriteBytes(legacy, "damaged since");
        ImportRegistryFile(legacy, path);
        RecordRegistry again(path);
        EXPECT_EQ(RecordedModule(again), c.module);
    }
}

TEST(InstallationRecordTest, WithoutAnyFileNothingIsRecorded) {
    TempDir dir;
    ImportRegistryFile(dir / "registry.reg", dir / "registry.ini");
    EXPECT_FALSE(std::filesystem::exists(dir / "registry.ini"));
    RecordRegistry record(dir / "registry.ini");
    EXPECT_EQ(RecordedModule(record), std::nullopt);
}

}  // namespace
}  // namespace vexa::posix
