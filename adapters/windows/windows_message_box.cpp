#include "adapters/windows/windows_message_box.h"

#include <windows.h>

#include "adapters/windows/win32_error.h"

namespace vexa::windows {

void WindowsMessageBox::Show(const std::string& text, const std::string& title) {
    ::MessageBoxW(nullptr, Utf8ToWide(text).c_str(), Utf8ToWide(title).c_str(), MB_OK | MB_TASKMODAL);
}

}  // namespace vexa::windows
