// RegistrySettingsStore against the real registry, checked with raw UTF-16 reads: what it
// writes, what it makes of values other programs wrote, and how it fails.

#include "adapters/windows/registry_settings_store.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "adapters/windows/win32_error.h"
#include "host/host_error.h"
#include "tests/windows/adapters/registry_fixture.h"

namespace vexa::windows {
namespace {

using namespace std::string_literals;
using test::ReadRawValue;
using test::SetRawValue;
using test::WideBytes;

constexpr const char* kApp = "Vexa - Message Manager";

class RegistrySettingsStoreTest : public ::testing::Test {
protected:
    std::wstring SectionPath(const std::wstring& section) const {
        return testKey_.Path() + L"\\Vexa - Message Manager\\" + section;
    }

    test::ScopedTestKey testKey_{L"Settings"};
    RegistrySettingsStore store_{WideToUtf8(testKey_.Path())};
};

TEST_F(RegistrySettingsStoreTest, AwkwardValuesRoundTripAsUtf16Strings) {
    struct Case {
        std::string key;
        std::wstring rawKey;
        std::string value;
        std::wstring stored;
    };
    const std::vector<Case> cases = {
        {"Empty", L"Empty", "", L""},
        {"Equals", L"Equals", "=", L"="},
        {";", L";", ";", L";"},
        {"Blanks", L"Blanks", "  padded  ", L"  padded  "},
        {"Gr\xC3\xB6\xC3\x9F" "e", L"Gr\u00F6\u00DFe", "M\xC3\xBCller \xE6\x97\xA5\xE6\x9C\xAC",
         L"M\u00FCller \u65E5\u672C"},
        {"Fax", L"Fax", "\xF0\x9F\x93\xA0", L"\xD83D\xDCE0"},
        {"Lines", L"Lines", "a\r\nb", L"a\r\nb"},
    };
    for (const Case& c : cases) store_.SaveSetting(kApp, "Options", c.key, c.value);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(store_.GetSetting(kApp, "Options", c.key, "default"), c.value);
        const test::RawValue raw = ReadRawValue(SectionPath(L"Options"), c.rawKey);
        EXPECT_EQ(raw.rc, ERROR_SUCCESS);
        EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(raw.bytes, WideBytes(c.stored));
    }
}

TEST_F(RegistrySettingsStoreTest, SavingReplacesWhateverWasThereRegardlessOfCase) {
    ASSERT_EQ(SetRawValue(SectionPath(L"Position"), L"Top", REG_DWORD, "\x07\0\0\0"s), ERROR_SUCCESS);
    store_.SaveSetting(kApp, "Position", "Top", "120");
    store_.SaveSetting(kApp, "POSITION", "TOP", "240");
    EXPECT_EQ(store_.GetSetting(kApp, "position", "top", ""), "240");
    const test::RawValue raw = ReadRawValue(SectionPath(L"Position"), L"Top");
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(raw.bytes, WideBytes(L"240"));
}

TEST_F(RegistrySettingsStoreTest, ReadsWhatOtherProgramsWroteOrGivesTheDefault) {
    struct Case {
        const wchar_t* name;
        DWORD type;
        std::string bytes;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {L"Dword", REG_DWORD, "\x01\0\0\0"s, "default"},
        {L"Binary", REG_BINARY, "ab"s, "default"},
        {L"Expand", REG_EXPAND_SZ, WideBytes(L"%TEMP%\\Fax"), "%TEMP%\\Fax"},
        {L"Unterminated", REG_SZ, "4\0" "2\0"s, "42"},
        {L"Odd length", REG_SZ, "4\0" "2"s, "4"},
        {L"Cut at NUL", REG_SZ, WideBytes(L"yes") + WideBytes(L"tail"), "yes"},
        {L"No data", REG_SZ, ""s, ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(SetRawValue(SectionPath(L"Options"), c.name, c.type, c.bytes), ERROR_SUCCESS);
    }
    for (const Case& c : cases) {
        const std::string name = WideToUtf8(c.name);
        EXPECT_EQ(store_.GetSetting(kApp, "Options", name, "default"), c.expected) << name;
    }
}

TEST_F(RegistrySettingsStoreTest, MissingBranchesGiveTheDefaultUnchanged) {
    store_.SaveSetting(kApp, "Options", "Present", "x");
    const std::string fallback = " M\xC3\xBCller ";
    EXPECT_EQ(store_.GetSetting("Other App", "Options", "Present", fallback), fallback);
    EXPECT_EQ(store_.GetSetting(kApp, "Other", "Present", fallback), fallback);
    EXPECT_EQ(store_.GetSetting(kApp, "Options", "Absent", fallback), fallback);
}

TEST_F(RegistrySettingsStoreTest, FailedSaveThrowsTheWin32CodeAndKeepsTheOldValue) {
    store_.SaveSetting(kApp, "Options", "Top", "old");
    // A volatile application key cannot hold the non-volatile section key a save creates.
    UniqueHkey volatileKey;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (testKey_.Path() + L"\\Volatile App").c_str(), 0, nullptr,
                                REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, volatileKey.Put(), nullptr),
              ERROR_SUCCESS);
    try {
        store_.SaveSetting("Volatile App", "Options", "Top", "new");
        ADD_FAILURE() << "the save succeeded";
    } catch (const HostError& e) {
        EXPECT_EQ(e.Number(), ERROR_CHILD_MUST_BE_VOLATILE);
        EXPECT_TRUE(e.Description().starts_with("Can't save the setting Volatile App\\Options\\Top: "))
            << e.Description();
    }
    EXPECT_EQ(store_.GetSetting("Volatile App", "Options", "Top", "none"), "none");
    EXPECT_EQ(store_.GetSetting(kApp, "Options", "Top", ""), "old");
    EXPECT_THROW(store_.SaveSetting(kApp, "", "Top", "1"), HostError);
}

TEST(RegistrySettingsStoreLocation, DefaultsToTheRunTimesProgramSettingsBranch) {
    const std::wstring app = L"Vexa Tests " + std::to_wstring(::GetCurrentProcessId());
    const std::wstring appKey = L"Software\\VB and VBA Program Settings\\" + app;
    RegistrySettingsStore().SaveSetting(WideToUtf8(app), "Options", "Top", "12");
    const test::RawValue raw = ReadRawValue(appKey + L"\\Options", L"Top");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, appKey.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings");  // stays when other programs keep settings there
    EXPECT_EQ(raw.rc, ERROR_SUCCESS);
    EXPECT_EQ(raw.bytes, WideBytes(L"12"));
}

}  // namespace
}  // namespace vexa::windows
