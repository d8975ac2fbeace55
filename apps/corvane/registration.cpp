#include "apps/corvane/registration.h"

#include <oleauto.h>

#include <string>

#include "adapters/outlook/com_support.h"
#include "apps/corvane/module_state.h"
#include "corvane.h"

namespace vexa::com {
namespace {

using outlook::ComPtr;

constexpr const wchar_t* kClsid = L"{A69FD2C3-8F30-4436-9A7C-884A3B9C0785}";
constexpr const wchar_t* kLibid = L"{C73F4823-3364-41A8-B811-E4E90EEE8C03}";
constexpr const wchar_t* kProgId = L"Corvane.Connect";
constexpr const wchar_t* kWrapperClsid = L"{DAE9225F-D378-4B72-915B-0B8A7DCA4E46}";
constexpr const wchar_t* kWrapperProgId = L"CVMAPI.SafeMailItem";
constexpr const wchar_t* kAddinKey = L"Software\\Microsoft\\Office\\Outlook\\Addins\\Corvane.Connect";
constexpr const wchar_t* kFriendlyName = L"Vexa - Message Manager";
constexpr const wchar_t* kDescription = L"Addin for work with J2 faxs from Microsoft Outlook";
constexpr DWORD kLoadAtStartup = 3;

class Key {
public:
    Key(HKEY root, const std::wstring& path) {
        status_ = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key_,
                                    nullptr);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (status_ == ERROR_SUCCESS) ::RegCloseKey(key_);
    }
    LONG Status() const { return status_; }
    LONG Set(const wchar_t* name, const std::wstring& value) {
        if (status_ != ERROR_SUCCESS) return status_;
        return ::RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    LONG Set(const wchar_t* name, DWORD value) {
        if (status_ != ERROR_SUCCESS) return status_;
        return ::RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }

private:
    HKEY key_ = nullptr;
    LONG status_;
};

std::wstring ModulePath() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(moduleHandle, path, MAX_PATH);
    return std::wstring(path, length);
}

// Writes one key with its default value and named values; the first failure wins.
LONG WriteKey(HKEY root, const std::wstring& path, const std::wstring& defaultValue) {
    Key key(root, path);
    if (key.Status() != ERROR_SUCCESS) return key.Status();
    return key.Set(nullptr, defaultValue);
}

HRESULT FromWin32(LONG status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

// The class a ProgID names, or empty when it names none.
std::wstring ClassOf(const wchar_t* progId) {
    wchar_t value[64] = {};
    DWORD size = sizeof value;
    const std::wstring key = std::wstring(progId) + L"\\CLSID";
    if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    return value;
}

// Whether `clsid` (in any letter case) is this module's wrapper class.
bool IsOurWrapper(const std::wstring& clsid) {
    GUID named{}, ours{};
    return SUCCEEDED(::IIDFromString(clsid.c_str(), &named)) && SUCCEEDED(::IIDFromString(kWrapperClsid, &ours)) &&
           named == ours;
}

// The wrapper's ProgID may be another program's wrapper, installed before or after this one:
// it is ours to write only when it names no class or ours already, and ours to remove only
// when it still names ours.
bool WrapperProgIdIsFree() {
    const std::wstring named = ClassOf(kWrapperProgId);
    return named.empty() || IsOurWrapper(named);
}

}  // namespace

HRESULT RegisterServer() {
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsid;
    LONG status = WriteKey(HKEY_CLASSES_ROOT, clsidKey, L"Corvane.Connect");
    if (status == ERROR_SUCCESS) {
        Key server(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32");
        status = server.Set(nullptr, ModulePath());
        if (status == ERROR_SUCCESS) status = server.Set(L"ThreadingModel", std::wstring(L"Apartment"));
    }
    if (status == ERROR_SUCCESS) status = WriteKey(HKEY_CLASSES_ROOT, clsidKey + L"\\ProgID", kProgId);
    if (status == ERROR_SUCCESS) status = WriteKey(HKEY_CLASSES_ROOT, clsidKey + L"\\TypeLib", kLibid);
    if (status == ERROR_SUCCESS) status = WriteKey(HKEY_CLASSES_ROOT, clsidKey + L"\\VERSION", L"1.0");
    if (status == ERROR_SUCCESS) status = WriteKey(HKEY_CLASSES_ROOT, kProgId, kProgId);
    if (status == ERROR_SUCCESS) status = WriteKey(HKEY_CLASSES_ROOT, std::wstring(kProgId) + L"\\CLSID", kClsid);
    // The mail-item wrapper, served by the same module.
    const std::wstring wrapperKey = std::wstring(L"CLSID\\") + kWrapperClsid;
    if (status == ERROR_SUCCESS) status = WriteKey(HKEY_CLASSES_ROOT, wrapperKey, kWrapperProgId);
    if (status == ERROR_SUCCESS) {
        Key server(HKEY_CLASSES_ROOT, wrapperKey + L"\\InprocServer32");
        status = server.Set(nullptr, ModulePath());
        if (status == ERROR_SUCCESS) status = server.Set(L"ThreadingModel", std::wstring(L"Apartment"));
    }
    if (status == ERROR_SUCCESS) status = WriteKey(HKEY_CLASSES_ROOT, wrapperKey + L"\\ProgID", kWrapperProgId);
    if (status == ERROR_SUCCESS && WrapperProgIdIsFree()) {
        status = WriteKey(HKEY_CLASSES_ROOT, kWrapperProgId, kWrapperProgId);
        if (status == ERROR_SUCCESS) {
            status = WriteKey(HKEY_CLASSES_ROOT, std::wstring(kWrapperProgId) + L"\\CLSID", kWrapperClsid);
        }
    }
    if (status != ERROR_SUCCESS) return FromWin32(status);

    // Registers the type library embedded in this module, with its interfaces.
    ComPtr<ITypeLib> library;
    HRESULT result = ::LoadTypeLibEx(ModulePath().c_str(), REGKIND_REGISTER, library.Put());
    if (FAILED(result)) return result;

    Key addin(HKEY_CURRENT_USER, kAddinKey);
    status = addin.Set(L"FriendlyName", std::wstring(kFriendlyName));
    if (status == ERROR_SUCCESS) status = addin.Set(L"Description", std::wstring(kDescription));
    if (status == ERROR_SUCCESS) status = addin.Set(L"LoadBehavior", kLoadAtStartup);
    return FromWin32(status);
}

HRESULT UnregisterServer() {
    // Every part is removed even when another part is already gone.
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kAddinKey);
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kClsid).c_str());
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kWrapperClsid).c_str());
    if (IsOurWrapper(ClassOf(kWrapperProgId))) ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kWrapperProgId);
    const SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    ::UnRegisterTypeLib(LIBID_Corvane, 1, 0, LOCALE_NEUTRAL, kind);
    return S_OK;
}

}  // namespace vexa::com
