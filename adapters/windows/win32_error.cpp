#include "adapters/windows/win32_error.h"

#include <climits>
#include <memory>

#include <windows.h>

namespace vexa::windows {
namespace {

struct LocalFreeDeleter {
    void operator()(wchar_t* text) const noexcept { ::LocalFree(text); }
};

std::string SystemText(std::uint32_t code) {
    wchar_t* raw = nullptr;
    // FORMAT_MESSAGE_ALLOCATE_BUFFER makes the system size the text; inserts are ignored because
    // nothing here could supply them.
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
    const std::unique_ptr<wchar_t, LocalFreeDeleter> owned(raw);
    std::wstring_view text(raw == nullptr ? L"" : raw, length);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.remove_suffix(1);
    }
    if (text.empty()) {
        return "Error " + std::to_string(code);
    }
    return WideToUtf8(text);
}

// The conversion functions take an int length; longer text than that is no text the add-in
// handles, so it is refused rather than cut.
int CheckedLength(std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX)) {
        throw Win32Error(ERROR_ARITHMETIC_OVERFLOW);
    }
    return static_cast<int>(size);
}

}  // namespace

HostError Win32Error(std::uint32_t code) { return HostError(static_cast<std::int32_t>(code), SystemText(code)); }

HostError Win32Error(const std::string& context, std::uint32_t code) {
    return HostError(static_cast<std::int32_t>(code), context + ": " + SystemText(code));
}

std::wstring Utf8ToWide(std::string_view text) {
    if (text.empty()) {
        return {};  // a zero length is an error to MultiByteToWideChar
    }
    const int length = CheckedLength(text.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        throw Win32Error(::GetLastError());
    }
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), needed);
    return wide;
}

std::string WideToUtf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int length = CheckedLength(text.size());
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        throw Win32Error(::GetLastError());
    }
    std::string utf8(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), needed, nullptr, nullptr);
    return utf8;
}

}  // namespace vexa::windows
