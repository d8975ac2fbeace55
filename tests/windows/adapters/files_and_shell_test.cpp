// The Win32 edge (error text, UTF-8/UTF-16), attachment files and ShellExecute, on real files
// in a fresh temporary folder; outcomes are checked with the raw W calls.

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <algorithm>
#include <windows.h>

#include "adapters/windows/win32_error.h"
#include "adapters/windows/windows_file_store.h"
#include "adapters/windows/windows_shell.h"
#include "host/host_error.h"

namespace vexa::windows {
namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

class TempFolder {
public:
    TempFolder() : path_(fs::temp_directory_path() / ("vexa-tests-" + std::to_string(::GetCurrentProcessId()))) {
        fs::remove_all(path_);
        fs::create_directories(path_ / "Sub");
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    // Creates the file with the W call, so its name is exactly `name` whatever the code page.
    std::string Add(const std::wstring& name, DWORD attributes = FILE_ATTRIBUTE_NORMAL) const {
        const std::wstring path = (path_ / name).wstring();
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << WideToUtf8(path);
        DWORD written = 0;
        ::WriteFile(file, "fax page", 8, &written, nullptr);
        ::CloseHandle(file);
        return WideToUtf8(path);
    }
    std::string Path(const std::wstring& name) const { return WideToUtf8((path_ / name).wstring()); }

private:
    fs::path path_;
};

bool ExistsRaw(const std::string& path) {
    return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(Win32Edge, Utf8AndUtf16ConvertBothWays) {
    const std::vector<std::pair<std::string, std::wstring>> cases = {
        {"", L""},
        {"M\xC3\xBCller \xE6\x97\xA5\xE6\x9C\xAC", L"M\u00FCller \u65E5\u672C"},
        {"\xF0\x9F\x93\xA0", L"\xD83D\xDCE0"},
        {"a\0b"s, L"a\0b"s},
    };
    for (const auto& [utf8, wide] : cases) {
        EXPECT_EQ(Utf8ToWide(utf8), wide) << utf8;
        EXPECT_EQ(WideToUtf8(wide), utf8) << utf8;
    }
    EXPECT_EQ(Utf8ToWide("a\xFF" "b"), L"a\uFFFDb");
}

TEST(Win32Edge, ErrorsCarryTheCodeAndTheSystemsTextOnOneLine) {
    const std::vector<std::tuple<HostError, std::int32_t, std::string>> cases = {
        {Win32Error(ERROR_FILE_NOT_FOUND), 2, ""},
        {Win32Error(ERROR_ACCESS_DENIED), 5, ""},
        {Win32Error("Can't open C:\\Fax\\R0000001.tif", ERROR_FILE_NOT_FOUND), 2, "Can't open C:\\Fax\\R0000001.tif: "},
    };
    for (const auto& [error, number, prefix] : cases) {
        const std::string& text = error.Description();
        EXPECT_EQ(error.Number(), number) << text;
        EXPECT_TRUE(text.starts_with(prefix)) << text;
        EXPECT_GT(text.size(), prefix.size()) << "no system text";
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
        EXPECT_NE(text.back(), ' ') << text;
    }
    EXPECT_NE(Win32Error(ERROR_FILE_NOT_FOUND).Description(), Win32Error(ERROR_ACCESS_DENIED).Description());
    EXPECT_EQ(Win32Error(0x2000FFFFu).Description(), "Error 536936447");
}

TEST(WindowsFileStore, ExistsForFilesAndFolders) {
    TempFolder folder;
    const std::vector<std::pair<std::string, bool>> cases = {
        {folder.Add(L"R0000001.tif"), true},
        {folder.Add(L"M\u00FCller \u65E5\u672C.tif"), true},
        {folder.Path(L"Sub"), true},
        {folder.Path(L"R0000002.tif"), false},
        {folder.Path(L"Missing\\R0000001.tif"), false},
    };
    for (const auto& [path, exists] : cases) EXPECT_EQ(WindowsFileStore().Exists(path), exists) << path;
}

TEST(WindowsFileStore, FlushKeepsTheContentsAndReportsAMissingFile) {
    TempFolder folder;
    const std::string path = folder.Add(L"\u65E5\u672C.tif");
    EXPECT_NO_THROW(WindowsFileStore().Flush(path));
    EXPECT_EQ(fs::file_size(Utf8ToWide(path)), 8u);

    const std::string missing = folder.Path(L"R0000009.tif");
    try {
        WindowsFileStore().Flush(missing);
        ADD_FAILURE() << "flushed a missing file";
    } catch (const HostError& e) {
        EXPECT_EQ(e.Number(), ERROR_FILE_NOT_FOUND);
        EXPECT_TRUE(e.Description().starts_with("Can't open " + missing + ": ")) << e.Description();
    }
}

TEST(WindowsFileStore, RemoveDeletesFilesAndToleratesMissingOnes) {
    TempFolder folder;
    struct Case {
        std::string path;
        std::int32_t error;  // 0: removed or never there
        bool existsAfter;
    };
    const std::vector<Case> cases = {
        {folder.Add(L"R0000001.tif"), 0, false},
        {folder.Add(L"M\u00FCller.tif"), 0, false},
        {folder.Path(L"R0000001.tif"), 0, false},
        {folder.Path(L"Missing\\R0000001.tif"), 0, false},
        {folder.Add(L"ReadOnly.tif", FILE_ATTRIBUTE_READONLY), ERROR_ACCESS_DENIED, true},
        {folder.Path(L"Sub"), ERROR_ACCESS_DENIED, true},
    };
    for (const Case& c : cases) {
        std::int32_t error = 0;
        try {
            WindowsFileStore().Remove(c.path);
        } catch (const HostError& e) {
            error = e.Number();
        }
        EXPECT_EQ(error, c.error) << c.path;
        EXPECT_EQ(ExistsRaw(c.path), c.existsAfter) << c.path;
    }
    ::SetFileAttributesW(Utf8ToWide(folder.Path(L"ReadOnly.tif")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(WindowsFileStore, RenameNeverReplacesAndListNamesTheFiles) {
    TempFolder folder;
    const std::string pending = folder.Add(L"R0000001.tif.partial");
    const std::string older = folder.Add(L"R0000002.tif");
    const std::string taken = folder.Add(L"R0000002.tif.partial");
    WindowsFileStore files;
    files.Rename(pending, folder.Path(L"R0000001.tif"));
    EXPECT_FALSE(ExistsRaw(pending));
    EXPECT_TRUE(ExistsRaw(folder.Path(L"R0000001.tif")));
    EXPECT_THROW(files.Rename(taken, older), HostError);
    EXPECT_TRUE(ExistsRaw(taken));
    auto names = files.List(folder.Path(L""));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"R0000001.tif", "R0000002.tif", "R0000002.tif.partial", "Sub"}));
}

TEST(WindowsShell, MissingFileIsNotStarted) {
    TempFolder folder;
    EXPECT_EQ(WindowsShell().Open(folder.Path(L"M\u00FCller.pdf")), kShellFileNotFound);
}

}  // namespace
}  // namespace vexa::windows
