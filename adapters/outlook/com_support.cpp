#include "adapters/outlook/com_support.h"

namespace vexa::outlook {

std::atomic<long> liveObjects{0};

namespace {

std::string Utf8Of(const wchar_t* text, int length) {
    if (length == 0) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

}  // namespace

std::string ToUtf8(BSTR text) { return Utf8Of(text, static_cast<int>(::SysStringLen(text))); }

std::string WideToUtf8(const std::wstring& text) { return Utf8Of(text.data(), static_cast<int>(text.size())); }

BSTR ToBstr(const std::string& utf8) {
    if (utf8.empty()) return ::SysAllocStringLen(L"", 0);
    const int length = static_cast<int>(utf8.size());
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    BSTR text = ::SysAllocStringLen(nullptr, static_cast<UINT>(size));
    if (text) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, text, size);
    return text;
}

Bstr::Bstr(const std::string& utf8) : raw_(ToBstr(utf8)) {}

}  // namespace vexa::outlook
