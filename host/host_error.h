// The one error type for failures of the mail host and of every platform component.
// Adapters translate their own failures (errno, GError, SQLite codes, HRESULT) into it at their edge;
// handlers catch it at their own boundary and show Description() in their message box.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vexa {

class HostError : public std::runtime_error {
public:
    HostError(std::int32_t number, std::string description)
        : std::runtime_error(description), number_(number), description_(std::move(description)) {}

    std::int32_t Number() const noexcept { return number_; }
    const std::string& Description() const noexcept { return description_; }

private:
    std::int32_t number_;
    std::string description_;
};

// The description of the exception being handled, for a handler's message box. Call only inside
// a catch block: a HostError gives its own description, any other exception its text.
std::string CurrentErrorDescription() noexcept;

// Error numbers that the add-in raises itself, with the run-time's descriptions.
namespace error {
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kSubscriptOutOfRange = 9;
inline constexpr std::int32_t kTypeMismatch = 13;
// Raised when a file would be written over one that is already there.
inline constexpr std::int32_t kFileAlreadyExists = 58;
inline constexpr std::int32_t kObjectNotSet = 91;
// First number of the application-defined range; raised for an empty installation folder.
inline constexpr std::int32_t kApplicationDefined = 513;

HostError Overflow();
HostError SubscriptOutOfRange();
HostError TypeMismatch();
HostError ObjectNotSet();
HostError ApplicationDefined(std::int32_t number = kApplicationDefined);
}  // namespace error

}  // namespace vexa
