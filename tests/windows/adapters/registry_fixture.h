// Registry helpers for the Windows adapter tests: a key of the test's own below
// HKEY_CURRENT_USER that is deleted afterwards, and raw Win32 reads and writes to set up and
// check what the adapters did without going through them.
#pragma once

#include <string>

#include <windows.h>

#include "adapters/windows/unique_hkey.h"

namespace vexa::windows::test {

// HKEY_CURRENT_USER\Software\Vexa Tests\<name> <process id>, created empty and deleted with
// everything below it when the test ends, so reruns and parallel runs never see old values.
class ScopedTestKey {
public:
    explicit ScopedTestKey(const std::wstring& name)
        : path_(std::wstring(kParent) + L"\\" + name + L" " + std::to_wstring(::GetCurrentProcessId())) {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    }
    ScopedTestKey(const ScopedTestKey&) = delete;
    ScopedTestKey& operator=(const ScopedTestKey&) = delete;
    ~ScopedTestKey() {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kParent);  // only goes when no other test still uses it
    }

    const std::wstring& Path() const { return path_; }

private:
    static constexpr const wchar_t* kParent = L"Software\\Vexa Tests";
    std::wstring path_;
};

// Writes a value of any type and bytes below HKEY_CURRENT_USER, creating the key.
inline LSTATUS SetRawValue(const std::wstring& keyPath, const std::wstring& name, DWORD type,
                           const std::string& bytes) {
    UniqueHkey key;
    const LSTATUS rc = ::RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                         key.Put(), nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    return ::RegSetValueExW(key.Get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()));
}

// A UTF-16 string's bytes as the registry stores them, terminating NUL included.
inline std::string WideBytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

struct RawValue {
    LSTATUS rc = ERROR_SUCCESS;
    DWORD type = REG_NONE;
    std::string bytes;
};

inline RawValue ReadRawValue(const std::wstring& keyPath, const std::wstring& name) {
    RawValue value;
    UniqueHkey key;
    value.rc = ::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.Put());
    if (value.rc != ERROR_SUCCESS) return value;
    DWORD size = 0;
    value.rc = ::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &value.type, nullptr, &size);
    if (value.rc == ERROR_SUCCESS) {
        value.bytes.resize(size);
        value.rc = ::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &value.type,
                                      reinterpret_cast<BYTE*>(value.bytes.data()), &size);
        value.bytes.resize(size);
    }
    return value;
}

}  // namespace vexa::windows::test
