#include "adapters/windows/registry_settings_store.h"

#include <optional>
#include <utility>

#include <windows.h>

#include "adapters/windows/unique_hkey.h"
#include "adapters/windows/win32_error.h"
#include "host/host_error.h"

namespace vexa::windows {
namespace {

constexpr std::int32_t kInvalidProcedureCall = 5;

void CheckNames(const std::string& appName, const std::string& section, const std::string& key) {
    // An empty name would address the branch above the setting (an empty key name is the key's
    // default value), which no caller means.
    if (appName.empty() || section.empty() || key.empty()) {
        throw HostError(kInvalidProcedureCall, "Invalid procedure call or argument");
    }
}

std::string SettingName(const std::string& appName, const std::string& section, const std::string& key) {
    return appName + "\\" + section + "\\" + key;
}

bool IsString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// nullopt when the value is missing or not a string. Reads until the buffer holds the whole
// value, since another program may make it longer between the size probe and the read.
std::optional<std::wstring> ReadString(HKEY key, const std::wstring& name, const std::string& settingName) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    LSTATUS rc = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    for (;;) {
        if (rc == ERROR_FILE_NOT_FOUND) return std::nullopt;
        if (rc != ERROR_SUCCESS) throw Win32Error("Can't read the setting " + settingName, rc);
        if (!IsString(type)) return std::nullopt;
        // Rounded up: a value written by another program may have an odd byte count.
        std::wstring text((size + 1) / sizeof(wchar_t), L'\0');
        DWORD capacity = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        rc = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                                &capacity);
        if (rc == ERROR_MORE_DATA) {
            size = capacity;
            rc = ERROR_SUCCESS;
            continue;
        }
        if (rc != ERROR_SUCCESS) continue;  // reported at the top of the loop
        // A number or bytes under the setting's name is no setting text: the default applies.
        if (!IsString(type)) return std::nullopt;
        // The stored bytes need not end in a NUL, nor stop at the first one.
        text.resize(capacity / sizeof(wchar_t));
        if (const std::size_t end = text.find(L'\0'); end != std::wstring::npos) text.resize(end);
        return text;
    }
}

}  // namespace

RegistrySettingsStore::RegistrySettingsStore(std::string rootKey) : rootKey_(std::move(rootKey)) {}

std::wstring RegistrySettingsStore::SectionPath(const std::string& appName, const std::string& section) const {
    return Utf8ToWide(rootKey_ + "\\" + appName + "\\" + section);
}

std::string RegistrySettingsStore::GetSetting(const std::string& appName, const std::string& section,
                                              const std::string& key, const std::string& defaultValue) {
    CheckNames(appName, section, key);
    UniqueHkey sectionKey;
    const LSTATUS rc =
        ::RegOpenKeyExW(HKEY_CURRENT_USER, SectionPath(appName, section).c_str(), 0, KEY_QUERY_VALUE, sectionKey.Put());
    if (rc == ERROR_FILE_NOT_FOUND) return defaultValue;
    const std::string settingName = SettingName(appName, section, key);
    if (rc != ERROR_SUCCESS) throw Win32Error("Can't read the setting " + settingName, rc);
    std::optional<std::wstring> text = ReadString(sectionKey.Get(), Utf8ToWide(key), settingName);
    return text ? WideToUtf8(*text) : defaultValue;
}

void RegistrySettingsStore::SaveSetting(const std::string& appName, const std::string& section,
                                        const std::string& key, const std::string& value) {
    CheckNames(appName, section, key);
    const std::string settingName = SettingName(appName, section, key);
    const std::wstring text = Utf8ToWide(value);
    // The terminating NUL is stored too, as the registry expects of REG_SZ.
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (bytes > MAXDWORD) throw Win32Error("Can't save the setting " + settingName, ERROR_ARITHMETIC_OVERFLOW);

    UniqueHkey sectionKey;
    LSTATUS rc = ::RegCreateKeyExW(HKEY_CURRENT_USER, SectionPath(appName, section).c_str(), 0, nullptr,
                                   REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, sectionKey.Put(), nullptr);
    if (rc != ERROR_SUCCESS) throw Win32Error("Can't save the setting " + settingName, rc);
    rc = ::RegSetValueExW(sectionKey.Get(), Utf8ToWide(key).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(bytes));
    if (rc != ERROR_SUCCESS) throw Win32Error("Can't save the setting " + settingName, rc);
}

}  // namespace vexa::windows
