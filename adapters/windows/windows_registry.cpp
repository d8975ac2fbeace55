#include "adapters/windows/windows_registry.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <windows.h>

#include "adapters/windows/unique_hkey.h"
#include "adapters/windows/win32_error.h"

namespace vexa::windows {
namespace {

struct PredefinedKey {
    RegKey handle;
    HKEY key;
};

const std::array<PredefinedKey, 5> kPredefinedKeys{{
    {0x80000000u, HKEY_CLASSES_ROOT},
    {kHkeyCurrentUser, HKEY_CURRENT_USER},
    {kHkeyLocalMachine, HKEY_LOCAL_MACHINE},
    {0x80000003u, HKEY_USERS},
    {0x80000005u, HKEY_CURRENT_CONFIG},
}};

// Handles stay below the predefined range and move in steps of four, as Windows' own do, so a
// handed-out value can never be taken for a root key or for zero.
constexpr RegKey kFirstHandle = 0x100;
constexpr RegKey kPredefinedBase = 0x80000000u;

std::optional<HKEY> PredefinedFor(RegKey handle) {
    for (const PredefinedKey& predefined : kPredefinedKeys) {
        if (predefined.handle == handle) return predefined.key;
    }
    return std::nullopt;
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// The whole of a text value as the registry keeps it: UTF-16, which holds any folder name, where
// the ANSI entry point would turn each character outside the ANSI code page into '?'. A value
// that grows between the size probe and the read is read again, a few times at most.
LSTATUS ReadWideText(HKEY key, const wchar_t* valueName, DWORD* reserved, DWORD& type, DWORD size,
                     std::wstring& text) {
    LSTATUS rc = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < 4 && rc == ERROR_MORE_DATA; ++attempt) {
        // Rounded up: a value written by another program may have an odd byte count.
        text.assign((size + 1) / sizeof(wchar_t), L'\0');
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        rc = ::RegQueryValueExW(key, valueName, reserved, &type,
                                text.empty() ? nullptr : reinterpret_cast<BYTE*>(text.data()), &size);
    }
    if (rc == ERROR_SUCCESS) text.resize(std::min<std::size_t>((size + 1) / sizeof(wchar_t), text.size()));
    return rc;
}

// The two-call protocol over converted text: a null buffer learns the size, a buffer too small
// gets kRegMoreData and the size needed, any other gets the text.
std::int32_t HandOut(const std::string& text, unsigned char* data, std::uint32_t& size) {
    const auto needed = static_cast<std::uint32_t>(text.size());
    if (data == nullptr) {
        size = needed;
        return kRegSuccess;
    }
    if (size < needed) {
        size = needed;
        return kRegMoreData;
    }
    std::copy(text.begin(), text.end(), data);
    size = needed;
    return kRegSuccess;
}

}  // namespace

struct WindowsRegistry::Handles {
    HKEY Resolve(RegKey handle) const {
        if (std::optional<HKEY> predefined = PredefinedFor(handle)) return *predefined;
        auto found = open.find(handle);
        return found == open.end() ? nullptr : found->second.Get();
    }

    std::optional<RegKey> HandleFor(HKEY key) const {
        for (const PredefinedKey& predefined : kPredefinedKeys) {
            if (predefined.key == key) return predefined.handle;
        }
        for (const auto& [handle, owned] : open) {
            if (owned.Get() == key) return handle;
        }
        return std::nullopt;
    }

    RegKey NextHandle() {
        RegKey handle = last;
        do {
            handle += 4;
            if (handle < kFirstHandle || handle >= kPredefinedBase) handle = kFirstHandle;
        } while (open.contains(handle));
        last = handle;
        return handle;
    }

    // Held across each advapi32 call, so a key cannot be closed while another thread reads it.
    std::mutex mutex;
    std::map<RegKey, UniqueHkey> open;
    RegKey last = 0;
};

WindowsRegistry::WindowsRegistry() : handles_(std::make_unique<Handles>()) {}

WindowsRegistry::~WindowsRegistry() = default;

std::int32_t WindowsRegistry::RegOpenKeyA(RegKey key, const char* subKey, RegKey& opened) {
    std::lock_guard lock(handles_->mutex);
    HKEY parent = handles_->Resolve(key);
    if (parent == nullptr) return kRegInvalidHandle;
    const std::wstring wideSubKey = subKey == nullptr ? std::wstring() : Utf8ToWide(subKey);
    HKEY raw = nullptr;
    const LSTATUS rc = ::RegOpenKeyW(parent, subKey == nullptr ? nullptr : wideSubKey.c_str(), &raw);
    if (rc != ERROR_SUCCESS) return rc;
    if (std::optional<RegKey> known = handles_->HandleFor(raw)) {
        opened = *known;
        return kRegSuccess;
    }
    UniqueHkey owned(raw);
    const RegKey handle = handles_->NextHandle();
    handles_->open.emplace(handle, std::move(owned));
    opened = handle;
    return kRegSuccess;
}

std::int32_t WindowsRegistry::RegQueryValueExA(RegKey key, const char* valueName, std::uint32_t* reserved,
                                               std::uint32_t& type, unsigned char* data, std::uint32_t& size) {
    std::lock_guard lock(handles_->mutex);
    HKEY resolved = handles_->Resolve(key);
    if (resolved == nullptr) return kRegInvalidHandle;
    // DWORD is unsigned long here, not the interface's unsigned int, so the values are copied
    // across rather than aliased. What advapi32 leaves alone comes back unchanged.
    DWORD reservedValue = reserved == nullptr ? 0 : *reserved;
    DWORD* reservedArg = reserved == nullptr ? nullptr : &reservedValue;
    const std::wstring wideName = valueName == nullptr ? std::wstring() : Utf8ToWide(valueName);
    const wchar_t* nameArg = valueName == nullptr ? nullptr : wideName.c_str();
    DWORD typeValue = type;
    DWORD sizeValue = 0;
    LSTATUS rc = ::RegQueryValueExW(resolved, nameArg, reservedArg, &typeValue, nullptr, &sizeValue);
    if (rc == ERROR_SUCCESS && IsText(typeValue)) {
        // Text is handed out in UTF-8, the encoding of every string in the add-in, so its size
        // is only known once the value has been read and converted. The terminating NULs are
        // converted with the rest, so the sizes stay those of whole values.
        std::wstring wide;
        rc = ReadWideText(resolved, nameArg, reservedArg, typeValue, sizeValue, wide);
        if (rc != ERROR_SUCCESS) return rc;
        type = typeValue;
        return HandOut(WideToUtf8(wide), data, size);
    }
    if (rc != ERROR_SUCCESS || data == nullptr) {
        type = typeValue;
        if (rc == ERROR_SUCCESS) size = sizeValue;
        return rc;
    }
    sizeValue = size;
    rc = ::RegQueryValueExW(resolved, nameArg, reservedArg, &typeValue, data, &sizeValue);
    type = typeValue;
    size = sizeValue;
    return rc;
}

std::int32_t WindowsRegistry::RegCloseKey(RegKey key) {
    std::lock_guard lock(handles_->mutex);
    if (std::optional<HKEY> predefined = PredefinedFor(key)) return ::RegCloseKey(*predefined);
    auto found = handles_->open.find(key);
    if (found == handles_->open.end()) return kRegInvalidHandle;
    HKEY raw = found->second.Release();
    handles_->open.erase(found);
    return ::RegCloseKey(raw);
}

}  // namespace vexa::windows
