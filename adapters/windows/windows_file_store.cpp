#include "adapters/windows/windows_file_store.h"

#include <windows.h>

#include "adapters/windows/win32_error.h"

namespace vexa {
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

}  // namespace vexa
