#include "adapters/windows/windows_registry.h"

#include <array>
#include <map>
#include <mutex>
#include <optional>

#include <windows.h>

#include "adapters/windows/unique_hkey.h"

namespace vexa {
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
    HKEY raw = nullptr;
    const LSTATUS rc = ::RegOpenKeyA(parent, subKey, &raw);
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
    DWORD typeValue = type;
    DWORD sizeValue = size;
    const LSTATUS rc = ::RegQueryValueExA(resolved, valueName, reserved == nullptr ? nullptr : &reservedValue,
                                          &typeValue, data, &sizeValue);
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

}  // namespace vexa
