// Owning handles for the GLib and GMime resources the Maildir host holds: object references,
// errors, g_free'd strings, dates and file descriptors. Only the host's own .cpp files include
// it, so GLib never leaks into the headers the command-line program sees.
#pragma once

#include <fcntl.h>
#include <glib-object.h>
#include <glib.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <utility>

#include "host/host_error.h"

namespace vexa::maildir {

// Says that a GObjectRef takes over a reference the caller already owns (a *_new or construct
// result); without it the handle would unref an object it never referenced.
struct Adopt {};
// Says that a GObjectRef adds its own reference to an object someone else owns (a getter result).
struct Retain {};

template <class T>
class GObjectRef {
public:
    GObjectRef() noexcept = default;
    GObjectRef(Adopt, T* object) noexcept : object_(object) {}
    GObjectRef(Retain, T* object) noexcept : object_(object) {
        if (object_ != nullptr) g_object_ref(object_);
    }
    GObjectRef(const GObjectRef& other) noexcept : GObjectRef(Retain{}, other.object_) {}
    GObjectRef(GObjectRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GObjectRef& operator=(GObjectRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GObjectRef() { Reset(); }

    T* Get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    void Reset() noexcept {
        if (auto* object = std::exchange(object_, nullptr)) g_object_unref(object);
    }

private:
    T* object_ = nullptr;
};

struct GErrorFree {
    void operator()(GError* error) const noexcept { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GFree {
    void operator()(char* text) const noexcept { g_free(text); }
};
using GCharPtr = std::unique_ptr<char, GFree>;

struct GDateTimeUnref {
    void operator()(GDateTime* date) const noexcept { g_date_time_unref(date); }
};
using GDateTimePtr = std::unique_ptr<GDateTime, GDateTimeUnref>;

// A GLib error as the rest of the add-in reports failures; `context` names what was attempted.
inline HostError FromGError(const std::string& context, const GError& error) {
    return HostError(error.code, context + ": " + (error.message != nullptr ? error.message : "unknown error"));
}

class UniqueFd {
public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        UniqueFd old(std::move(*this));
        fd_ = std::exchange(other.fd_, -1);
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }

    int Get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // Closes now and reports the errno of a failed close: on NFS and full disks the write
    // error of a file only shows here, and a saved file must not be reported good when it is not.
    int Close() noexcept {
        const int fd = std::exchange(fd_, -1);
        if (fd < 0) return 0;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_ = -1;
};

}  // namespace vexa::maildir
