// Ownership of an open registry key, so every path out of a registry call closes what it opened.
// Used by the Windows registry and settings adapters and by their tests; includes <windows.h>,
// so only Windows sources include it.
#pragma once

#include <utility>

#include <windows.h>

namespace vexa::windows {

class UniqueHkey {
public:
    UniqueHkey() = default;
    explicit UniqueHkey(HKEY key) noexcept : key_(key) {}
    UniqueHkey(UniqueHkey&& other) noexcept : key_(other.Release()) {}
    UniqueHkey& operator=(UniqueHkey&& other) noexcept {
        if (this != &other) {
            Reset();
            key_ = other.Release();
        }
        return *this;
    }
    UniqueHkey(const UniqueHkey&) = delete;
    UniqueHkey& operator=(const UniqueHkey&) = delete;
    ~UniqueHkey() { Reset(); }

    HKEY Get() const noexcept { return key_; }
    // For the out parameter of RegOpenKeyExW and RegCreateKeyExW; closes any key held before.
    HKEY* Put() noexcept {
        Reset();
        return &key_;
    }
    // Hands the key over to a caller that closes it itself and wants the return code.
    HKEY Release() noexcept { return std::exchange(key_, nullptr); }
    void Reset() noexcept {
        if (key_ != nullptr) {
            ::RegCloseKey(key_);
            key_ = nullptr;
        }
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace vexa::windows
