// WindowsRegistry against the real registry: values written with the raw ANSI calls, read back
// through the two-call protocol of the installation-folder lookup.

#include "adapters/windows/windows_registry.h"

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "adapters/windows/unique_hkey.h"
#include "adapters/windows/win32_error.h"
#include "tests/windows/adapters/registry_fixture.h"

namespace vexa::windows {
namespace {

using namespace std::string_literals;

class WindowsRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        UniqueHkey key;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, subKey_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                    key.Put(), nullptr),
                  ERROR_SUCCESS);
        for (const auto& [name, type, bytes] : std::vector<std::tuple<const char*, DWORD, std::string>>{
                 {nullptr, REG_SZ, "C:\\Program Files\\Vexa\\Corvane.dll\0"s},
                 {"Expand", REG_EXPAND_SZ, "%ProgramFiles%\\Vexa\0"s},
                 {"Empty", REG_SZ, "\0"s},
                 {"Count", REG_DWORD, "\x2A\0\0\0"s},
             }) {
            ASSERT_EQ(::RegSetValueExA(key.Get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                       static_cast<DWORD>(bytes.size())),
                      ERROR_SUCCESS);
        }
    }

    RegKey Open(RegKey root, const std::string& path) {
        RegKey opened = 0;
        EXPECT_EQ(registry_.RegOpenKeyA(root, path.c_str(), opened), kRegSuccess) << path;
        return opened;
    }

    test::ScopedTestKey testKey_{L"Registry"};
    std::string subKey_ = WideToUtf8(testKey_.Path());
    WindowsRegistry registry_;
};

TEST_F(WindowsRegistryTest, SizeProbeThenReadGivesTypeAndBytes) {
    struct Case {
        const char* name;
        std::uint32_t type;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {nullptr, kRegSz, "C:\\Program Files\\Vexa\\Corvane.dll\0"s},
        {"", kRegSz, "C:\\Program Files\\Vexa\\Corvane.dll\0"s},
        {"expand", kRegExpandSz, "%ProgramFiles%\\Vexa\0"s},
        {"Empty", kRegSz, "\0"s},
        {"Count", kRegDword, "\x2A\0\0\0"s},
    };
    const RegKey key = Open(kHkeyCurrentUser, subKey_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name == nullptr ? "(default)" : c.name);
        std::uint32_t type = kRegNone;
        std::uint32_t size = 0;
        ASSERT_EQ(registry_.RegQueryValueExA(key, c.name, nullptr, type, nullptr, size), kRegSuccess);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(size, c.bytes.size());
        std::string buffer(size, '\x7F');
        type = kRegNone;
        ASSERT_EQ(registry_.RegQueryValueExA(key, c.name, nullptr, type,
                                             reinterpret_cast<unsigned char*>(buffer.data()), size),
                  kRegSuccess);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(buffer.substr(0, size), c.bytes);
    }
    EXPECT_EQ(registry_.RegCloseKey(key), kRegSuccess);
}

// A folder name outside ASCII comes back in UTF-8 with the UTF-8 size, so the lookup finds
// "Vexa Büro" whether setup wrote it as Unicode or an ANSI program did, and finds a Cyrillic folder
// on a Windows whose ANSI code page has no Cyrillic letters.
TEST_F(WindowsRegistryTest, TextOutsideAsciiComesBackInUtf8) {
    const std::wstring western = L"C:\\Program Files\\Vexa B\u00FCro\\Corvane.dll";
    const std::string westernUtf8 = "C:\\Program Files\\Vexa B\xC3\xBCro\\Corvane.dll\0"s;
    std::string ansi(western.size() + 1, '\0');
    BOOL lossy = FALSE;
    ASSERT_GT(::WideCharToMultiByte(CP_ACP, 0, western.c_str(), -1, ansi.data(), static_cast<int>(ansi.size()),
                                    nullptr, &lossy),
              0);
    ASSERT_FALSE(lossy) << "the ANSI code page " << ::GetACP() << " has no u with diaeresis";
    ASSERT_NE(ansi, westernUtf8) << "the ANSI code page is UTF-8: nothing to convert";
    {
        UniqueHkey raw;
        ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, subKey_.c_str(), 0, KEY_SET_VALUE, raw.Put()), ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExA(raw.Get(), "Ansi", 0, REG_SZ, reinterpret_cast<const BYTE*>(ansi.data()),
                                   static_cast<DWORD>(ansi.size())),
                  ERROR_SUCCESS);
    }
    const struct {
        const char* name;
        std::wstring written;  // empty: written above through the ANSI call
        std::string utf8;
    } cases[] = {
        {"Wide", western, westernUtf8},
        {"Ansi", L"", westernUtf8},
        {"Cyrillic", L"C:\\\u041F\u0440\u043E\u0433\u0440\u0430\u043C\u044B\\Vexa\\Corvane.dll",
         "C:\\\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD1\x8B\\Vexa\\Corvane.dll\0"s},
    };
    for (const auto& c : cases) {
        if (c.written.empty()) continue;
        ASSERT_EQ(test::SetRawValue(testKey_.Path(), Utf8ToWide(c.name), REG_SZ, test::WideBytes(c.written)),
                  ERROR_SUCCESS);
    }

    const RegKey key = Open(kHkeyCurrentUser, subKey_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint32_t type = kRegNone;
        std::uint32_t size = 0;
        ASSERT_EQ(registry_.RegQueryValueExA(key, c.name, nullptr, type, nullptr, size), kRegSuccess);
        EXPECT_EQ(type, kRegSz);
        EXPECT_EQ(size, c.utf8.size());

        std::string shortBuffer(c.utf8.size() - 1, 'x');
        std::uint32_t shortSize = static_cast<std::uint32_t>(shortBuffer.size());
        EXPECT_EQ(registry_.RegQueryValueExA(key, c.name, nullptr, type,
                                             reinterpret_cast<unsigned char*>(shortBuffer.data()), shortSize),
                  kRegMoreData);
        EXPECT_EQ(shortSize, c.utf8.size()) << "the size needed";

        std::string buffer(size, ' ');
        ASSERT_EQ(registry_.RegQueryValueExA(key, c.name, nullptr, type,
                                             reinterpret_cast<unsigned char*>(buffer.data()), size),
                  kRegSuccess);
        EXPECT_EQ(buffer.substr(0, size), c.utf8);
    }
    EXPECT_EQ(registry_.RegCloseKey(key), kRegSuccess);
}

TEST_F(WindowsRegistryTest, FailuresGiveTheWin32Codes) {
    const RegKey key = Open(kHkeyCurrentUser, subKey_);
    const RegKey closed = Open(kHkeyCurrentUser, subKey_);
    ASSERT_EQ(registry_.RegCloseKey(closed), kRegSuccess);

    const auto open = [&](RegKey root, const std::string& path) {
        RegKey opened = 0;
        return registry_.RegOpenKeyA(root, path.c_str(), opened);
    };
    const auto query = [&](RegKey handle, const char* name, std::uint32_t* reserved) {
        std::uint32_t type = kRegNone;
        std::uint32_t size = 0;
        return registry_.RegQueryValueExA(handle, name, reserved, type, nullptr, size);
    };
    std::uint32_t reserved = 0;
    const std::vector<std::tuple<const char*, std::int32_t, std::int32_t>> cases = {
        {"missing key", open(kHkeyCurrentUser, subKey_ + "\\Missing"), kRegFileNotFound},
        // The test key exists under HKEY_CURRENT_USER only, so this fails if the roots were swapped.
        {"key under the other root", open(kHkeyLocalMachine, subKey_), kRegFileNotFound},
        {"missing value", query(key, "Missing", nullptr), kRegFileNotFound},
        {"reserved not null", query(key, "Expand", &reserved), ERROR_INVALID_PARAMETER},
        {"unknown handle: open", open(0x1234, "Software"), kRegInvalidHandle},
        {"closed handle: query", query(closed, "Expand", nullptr), kRegInvalidHandle},
        {"closed handle: close", registry_.RegCloseKey(closed), kRegInvalidHandle},
    };
    for (const auto& [what, rc, expected] : cases) {
        EXPECT_EQ(rc, expected) << what;
    }

    std::string buffer(19, 'x');
    std::uint32_t type = kRegNone;
    std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
    EXPECT_EQ(registry_.RegQueryValueExA(key, "Expand", nullptr, type,
                                         reinterpret_cast<unsigned char*>(buffer.data()), size),
              kRegMoreData);
    EXPECT_EQ(size, 20u) << "the size needed";
}

TEST_F(WindowsRegistryTest, HandlesAreDistinct32BitValuesThatNest) {
    const RegKey software = Open(kHkeyCurrentUser, "Software");
    const RegKey nested = Open(software, subKey_.substr(std::string("Software\\").size()));
    const RegKey direct = Open(kHkeyCurrentUser, subKey_);
    const RegKey machine = Open(kHkeyLocalMachine, "Software");
    const std::vector<RegKey> handles = {software, nested, direct, machine};
    for (std::size_t i = 0; i < handles.size(); ++i) {
        EXPECT_NE(handles[i], 0u);
        EXPECT_LT(handles[i], 0x80000000u) << "handle " << i << " falls among the predefined roots";
        for (std::size_t j = i + 1; j < handles.size(); ++j) EXPECT_NE(handles[i], handles[j]);
    }
    std::uint32_t type = kRegNone;
    std::uint32_t size = 0;
    EXPECT_EQ(registry_.RegQueryValueExA(nested, "Expand", nullptr, type, nullptr, size), kRegSuccess);
    EXPECT_EQ(type, kRegExpandSz);

    // An empty sub-key is the key itself, so one close ends both names for it.
    EXPECT_EQ(Open(direct, ""), direct);
    EXPECT_EQ(Open(kHkeyLocalMachine, ""), kHkeyLocalMachine);
    for (RegKey handle : handles) EXPECT_EQ(registry_.RegCloseKey(handle), kRegSuccess);
    EXPECT_EQ(registry_.RegCloseKey(direct), kRegInvalidHandle);
}

}  // namespace
}  // namespace vexa::windows
