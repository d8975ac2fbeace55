// VXHELP.exe: the program the add-in's Help button starts. It opens VXHELP.html, which lies in
// the same folder, with whatever the user has chosen to open web pages, and says so when it can't.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

namespace {

constexpr const wchar_t* kTitle = L"Vexa - Message Manager";
constexpr const wchar_t* kPage = L"VXHELP.html";

// The full path of this program; the buffer grows for folders past MAX_PATH.
std::wstring OwnPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The page beside this program, whatever the folder is called.
std::wstring PagePath() {
    std::wstring path = OwnPath();
    const std::wstring::size_type slash = path.find_last_of(L"\\/");
    path.erase(slash == std::wstring::npos ? 0 : slash + 1);
    return path + kPage;
}

// ShellExecute's own answers for the usual failures, in words a user can act on.
std::wstring Reason(INT_PTR code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return L"The help page is missing. Please reinstall Vexa - Message Manager.";
        case SE_ERR_NOASSOC:
        case SE_ERR_ASSOCINCOMPLETE:
            return L"No program is set up to open web pages.";
        case SE_ERR_ACCESSDENIED:
            return L"Access to the help page was denied.";
        case SE_ERR_OOM:
        case 0:
            return L"There is not enough memory to open the help page.";
        default:
            return L"Windows could not open the help page (code " + std::to_wstring(code) + L").";
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Users of the machine may create files in this program's folder (the archive's lock file
    // lives there): libraries loaded from now on come from the system folder only.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    if (const auto set = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")))) {
        set(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    const std::wstring page = PagePath();
    // Web pages open in the browser, which may need COM for its own hand-over.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const auto result =
        reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", page.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (SUCCEEDED(com)) ::CoUninitialize();
    if (result > 32) return 0;
    const std::wstring message = L"Cannot open the help page\n" + page + L"\n\n" + Reason(result);
    ::MessageBoxW(nullptr, message.c_str(), kTitle, MB_OK | MB_ICONEXCLAMATION);
    return 1;
}
