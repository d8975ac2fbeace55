// Small RAII helpers for COM: an interface pointer that releases itself, a BSTR that frees itself,
// conversions between BSTR (UTF-16) and the core's UTF-8 text, and the count of this module's
// objects and locks alive, which DllCanUnloadNow reports (the event sinks handed to Outlook count).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <string>
#include <utility>

namespace vexa::outlook {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller already owns.
    static ComPtr Adopt(T* raw) {
        ComPtr p;
        p.raw_ = raw;
        return p;
    }
    // Adds a reference of its own.
    static ComPtr Retain(T* raw) {
        if (raw) raw->AddRef();
        return Adopt(raw);
    }
    ComPtr(const ComPtr& other) : raw_(other.raw_) {
        if (raw_) raw_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : raw_(std::exchange(other.raw_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(raw_, other.raw_);
        return *this;
    }
    ~ComPtr() {
        if (raw_) raw_->Release();
    }
    T* Get() const noexcept { return raw_; }
    T* operator->() const noexcept { return raw_; }
    explicit operator bool() const noexcept { return raw_ != nullptr; }
    // For out-parameters: releases what is held and hands out the slot.
    T** Put() noexcept {
        *this = ComPtr();
        return &raw_;
    }

private:
    T* raw_ = nullptr;
};

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::string& utf8);
    static Bstr Adopt(BSTR raw) {
        Bstr b;
        b.raw_ = raw;
        return b;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : raw_(std::exchange(other.raw_, nullptr)) {}
    ~Bstr() { ::SysFreeString(raw_); }
    BSTR Get() const noexcept { return raw_; }
    // Hands the string to a caller who frees it (an [out, retval]).
    BSTR Detach() noexcept { return std::exchange(raw_, nullptr); }

private:
    BSTR raw_ = nullptr;
};

// The whole BSTR (embedded NULs included) as UTF-8, and back.
std::string ToUtf8(BSTR text);
std::string WideToUtf8(const std::wstring& text);
BSTR ToBstr(const std::string& utf8);

// Objects and server locks alive in this module; the module may be unloaded at zero.
extern std::atomic<long> liveObjects;

}  // namespace vexa::outlook
