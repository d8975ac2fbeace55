#include "adapters/windows/windows_file_store.h"

#include <windows.h>

#include <string>
#include <vector>

#include "adapters/windows/win32_error.h"

namespace vexa::windows {
namespace {

class UniqueFileHandle {
public:
    explicit UniqueFileHandle(HANDLE handle) noexcept : handle_(handle) {}
    UniqueFileHandle(const UniqueFileHandle&) = delete;
    UniqueFileHandle& operator=(const UniqueFileHandle&) = delete;
    ~UniqueFileHandle() {
        if (Valid()) ::CloseHandle(handle_);
    }
    bool Valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const noexcept { return handle_; }

private:
    HANDLE handle_;
};

}  // namespace

bool WindowsFileStore::Exists(const std::string& path) {
    if (::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

void WindowsFileStore::Flush(const std::string& path) {
    // FlushFileBuffers needs write access; sharing everything leaves the mail host's own handle
    // on the file undisturbed.
    const UniqueFileHandle file(::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) throw Win32Error("Can't open " + path, ::GetLastError());
    if (!::FlushFileBuffers(file.Get())) throw Win32Error("Can't write " + path + " to disk", ::GetLastError());
}

void WindowsFileStore::Remove(const std::string& path) {
    if (::DeleteFileW(Utf8ToWide(path).c_str())) return;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    throw Win32Error("Can't remove " + path, error);
}

void WindowsFileStore::Rename(const std::string& from, const std::string& to) {
    if (!::MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
        throw Win32Error("Can't rename " + from + " to " + to, ::GetLastError());
    }
}

std::vector<std::string> WindowsFileStore::List(const std::string& folder) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(Utf8ToWide(folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return {};
        throw Win32Error("Can't read the folder " + folder, error);
    }
    std::vector<std::string> names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(WideToUtf8(name));
    } while (::FindNextFileW(search, &found));
    const DWORD error = ::GetLastError();
    ::FindClose(search);
    if (error != ERROR_NO_MORE_FILES) throw Win32Error("Can't read the folder " + folder, error);
    return names;
}

}  // namespace vexa::windows
