// The base of every host object and the checked conversions between host object types.
// The host hands some objects over untyped (the add-in connection's Application argument, the
// items of events and of the selection); the add-in converts them before it uses them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "host/host_error.h"
#include "host/host_fwd.h"

namespace vexa {

class Object {
public:
    virtual ~Object() = default;
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
};

// Outlook item classes the add-in tells apart.
inline constexpr std::int32_t kOlMail = 43;

// Any item of a folder, an event or a selection: before it is used as a mail item its class is
// read (43 is a mail item) and, on arrival, its unread state, which some item kinds leave null.
class Item : public Object {
public:
    virtual std::int32_t Class() = 0;
    virtual std::optional<bool> UnRead() = 0;
};

// Converts a host reference to a more specific interface, failing as the host does when the
// object is not of that kind ("Type mismatch"). A null reference stays null.
template <class To, class From>
std::shared_ptr<To> As(const std::shared_ptr<From>& object) {
    if (!object) return nullptr;
    auto converted = std::dynamic_pointer_cast<To>(object);
    if (!converted) throw error::TypeMismatch();
    return converted;
}

// Dereferences a host reference, failing as the host does when it is not set.
template <class Pointer>
auto& Deref(const Pointer& object) {
    if (!object) throw error::ObjectNotSet();
    return *object;
}

}  // namespace vexa
