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
    // `transient`: the failure lies with the machine or a server, not with what was asked (a full
    // disk, an I/O error, a server out of reach or busy), so the same work may succeed later.
    // The adapter that translates the failure decides; CurrentErrorTransient reads it.
    // `outcomeUnknown`: a commit failed in a way that leaves open whether it took effect (the
    // connection dropped during it and its outcome could not be read back); it is transient too.
    HostError(std::int32_t number, std::string description, bool transient = false, bool outcomeUnknown = false)
        : std::runtime_error(description),
          number_(number),
          description_(std::move(description)),
          transient_(transient || outcomeUnknown),
          outcomeUnknown_(outcomeUnknown) {}

    std::int32_t Number() const noexcept { return number_; }
    const std::string& Description() const noexcept { return description_; }
    bool Transient() const noexcept { return transient_; }
    bool OutcomeUnknown() const noexcept { return outcomeUnknown_; }

private:
    std::int32_t number_;
    std::string description_;
    bool transient_;
    bool outcomeUnknown_;
};

// The description of the exception being handled, for a handler's message box. Call only inside
// a catch block: a HostError gives its own description, any other exception its text.
std::string CurrentErrorDescription() noexcept;
// Whether the exception being handled is worth trying again later: a transient HostError, or
// memory running out. The one place that answers it. Call only inside a catch block.
bool CurrentErrorTransient() noexcept;
// Whether the exception being handled leaves open whether a commit took effect.
bool CurrentErrorOutcomeUnknown() noexcept;

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
