#include "adapters/windows/windows_shell.h"

#include <cstdint>
#include <limits>

#include <windows.h>
#include <shellapi.h>

#include "adapters/windows/win32_error.h"

namespace vexa::windows {

std::int32_t WindowsShell::Open(const std::string& path) {
    const std::wstring file = Utf8ToWide(path);
    const auto result =
        reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    // Success is only promised as "above 32"; a large value must not wrap into the failure range.
    if (result > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(result);
}

}  // namespace vexa::windows
