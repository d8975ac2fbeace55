// Corvane.dll as Outlook and the system meet it: self-registration and unregistration, creation by
// ProgID, and the public methods of _Connect called by name through IDispatch.

#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kClsidKey = L"CLSID\\{A69FD2C3-8F30-4436-9A7C-884A3B9C0785}";
constexpr const wchar_t* kAddinKey = L"Software\\Microsoft\\Office\\Outlook\\Addins\\Corvane.Connect";
const IID kIidExtensibility = {0xB65AD801, 0xABAF, 0x11D0, {0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44}};

class Library {
public:
    Library() : module_(::LoadLibraryW(L"Corvane.dll")) {}
    ~Library() {
        if (module_) ::FreeLibrary(module_);
    }
    HMODULE Get() const { return module_; }
    HRESULT Call(const char* entry) const {
        auto function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(::GetProcAddress(module_, entry)));
        return function ? function() : E_NOTIMPL;
    }

private:
    HMODULE module_;
};

std::wstring ReadString(HKEY root, const std::wstring& key, const wchar_t* name) {
    wchar_t value[1024];
    DWORD size = sizeof value;
    if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return L"(none)";
    return value;
}

DWORD ReadDword(HKEY root, const std::wstring& key, const wchar_t* name) {
    DWORD value = 0, size = sizeof value;
    if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) return 0;
    return value;
}

bool KeyExists(HKEY root, const std::wstring& key) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    ::RegCloseKey(opened);
    return true;
}

class Corvane : public ::testing::Test {
protected:
    void SetUp() override {
        ::CoInitialize(nullptr);
        ASSERT_NE(library_.Get(), nullptr);
        ASSERT_EQ(library_.Call("DllRegisterServer"), S_OK);
    }
    void TearDown() override {
        library_.Call("DllUnregisterServer");
        ::CoUninitialize();
    }

    IDispatch* Create() {
        CLSID clsid{};
        EXPECT_EQ(::CLSIDFromProgID(L"Corvane.Connect", &clsid), S_OK);
        IDispatch* object = nullptr;
        EXPECT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     reinterpret_cast<void**>(&object)),
                  S_OK);
        return object;
    }

    Library library_;
};

TEST_F(Corvane, RegistersTheClassTheTypeLibraryAndTheOutlookAddin) {
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"Corvane.Connect\\CLSID", nullptr),
              L"{A69FD2C3-8F30-4436-9A7C-884A3B9C0785}");
    EXPECT_NE(ReadString(HKEY_CLASSES_ROOT, std::wstring(kClsidKey) + L"\\InprocServer32", nullptr).find(L"Corvane.dll"),
              std::wstring::npos);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::wstring(kClsidKey) + L"\\InprocServer32", L"ThreadingModel"),
              L"Apartment");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"TypeLib\\{C73F4823-3364-41A8-B811-E4E90EEE8C03}\\1.0", nullptr),
              L"Vexa - Message Manager");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kAddinKey, L"FriendlyName"), L"Vexa - Message Manager");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kAddinKey, L"Description"),
              L"Addin for work with J2 faxs from Microsoft Outlook");
    EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, kAddinKey, L"LoadBehavior"), 3u);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, L"CVMAPI.SafeMailItem\\CLSID", nullptr),
              L"{DAE9225F-D378-4B72-915B-0B8A7DCA4E46}");

    ASSERT_EQ(library_.Call("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kAddinKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Corvane.Connect"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CVMAPI.SafeMailItem"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\{DAE9225F-D378-4B72-915B-0B8A7DCA4E46}"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\{C73F4823-3364-41A8-B811-E4E90EEE8C03}"));
}

// The wrapper's ProgID may belong to another program's wrapper: it is taken only when free and
// given back only when it still names this module's class.
TEST_F(Corvane, TheWrapperProgIdIsTakenOnlyWhenFreeAndRemovedOnlyWhenOurs) {
    constexpr const wchar_t* kProgIdClsid = L"CVMAPI.SafeMailItem\\CLSID";
    constexpr const wchar_t* kOurs = L"{DAE9225F-D378-4B72-915B-0B8A7DCA4E46}";
    constexpr const wchar_t* kForeign = L"{0F0E0D0C-0B0A-4908-8706-050403020100}";
    const struct {
        const char* name;
        const wchar_t* before;
        std::wstring registered, unregistered;
    } cases[] = {
        {"absent", nullptr, kOurs, L"(none)"},
        {"another program's", kForeign, kForeign, kForeign},
        {"already ours", kOurs, kOurs, L"(none)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(library_.Call("DllUnregisterServer"), S_OK);
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"CVMAPI.SafeMailItem");
        if (c.before) {
            ASSERT_EQ(::RegSetKeyValueW(HKEY_CLASSES_ROOT, kProgIdClsid, nullptr, REG_SZ, c.before,
                                        static_cast<DWORD>((std::wcslen(c.before) + 1) * sizeof(wchar_t))),
                      ERROR_SUCCESS);
        }
        ASSERT_EQ(library_.Call("DllRegisterServer"), S_OK);
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kProgIdClsid, nullptr), c.registered);
        ASSERT_EQ(library_.Call("DllUnregisterServer"), S_OK);
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kProgIdClsid, nullptr), c.unregistered);
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"CVMAPI.SafeMailItem");
    }
}

TEST_F(Corvane, StringFromBufferByNameThroughIDispatch) {
    IDispatch* object = Create();
    ASSERT_NE(object, nullptr);
    OLECHAR name[] = L"StringFromBuffer";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    ASSERT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);

    const struct {
        std::wstring buffer;
        std::wstring expected;
    } cases[] = {
        {std::wstring(L"abc\0ef", 6), L"abc"},
        {L"C:\\Program Files\\Tool\\Corvane.dll", L"C:\\Program Files\\Tool\\Corvane.dll"},
        {L"", L""},
        {L"M\u00fcller \u65e5\u672c", L"M\u00fcller \u65e5\u672c"},
    };
    for (const auto& c : cases) {
        BSTR buffer = ::SysAllocStringLen(c.buffer.data(), static_cast<UINT>(c.buffer.size()));
        VARIANT argument;
        ::VariantInit(&argument);
        argument.vt = VT_BSTR | VT_BYREF;
        argument.pbstrVal = &buffer;
        DISPPARAMS params{&argument, nullptr, 1, 0};
        VARIANT result;
        ::VariantInit(&result);
        ASSERT_EQ(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
                  S_OK);
        ASSERT_EQ(result.vt, VT_BSTR);
        EXPECT_EQ(std::wstring(result.bstrVal, ::SysStringLen(result.bstrVal)), c.expected);
        // The buffer itself is left as it was.
        EXPECT_EQ(std::wstring(buffer, ::SysStringLen(buffer)), c.buffer);
        ::VariantClear(&result);
        ::SysFreeString(buffer);
    }
    object->Release();
}

TEST_F(Corvane, OffersTheAddinConnectionAndFreesItself) {
    IDispatch* object = Create();
    ASSERT_NE(object, nullptr);
    IUnknown* extensibility = nullptr;
    EXPECT_EQ(object->QueryInterface(kIidExtensibility, reinterpret_cast<void**>(&extensibility)), S_OK);
    if (extensibility) extensibility->Release();
    // Every public method is reachable by name, in slot order.
    const wchar_t* methods[] = {L"StringFromBuffer", L"OpenDescription", L"GetReplyToAddress",
                                L"GetSafeSenderAddress", L"GetSafeRecipientAddress"};
    DISPID previous = 0;
    for (const wchar_t* method : methods) {
        std::wstring copy = method;
        LPOLESTR names[] = {copy.data()};
        DISPID id = 0;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << copy.size();
        EXPECT_GT(id, previous);
        previous = id;
    }
    object->Release();
    EXPECT_EQ(library_.Call("DllCanUnloadNow"), S_OK);
}

}  // namespace
