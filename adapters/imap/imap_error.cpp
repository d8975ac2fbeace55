#include "adapters/imap/imap_error.h"

#include <cstdint>

namespace vexa::imap {

namespace {
// Application-defined numbers, one per failure, so that a log line tells them apart.
std::int32_t NumberOf(ImapFailure failure) {
    return error::kApplicationDefined + 100 + static_cast<std::int32_t>(failure);
}
}  // namespace

ImapError::ImapError(ImapFailure failure, std::string description)
    : HostError(NumberOf(failure), std::move(description)), failure_(failure) {}

bool IsStartupFailure(ImapFailure failure) noexcept {
    switch (failure) {
        case ImapFailure::UnknownHost:
        case ImapFailure::Certificate:
        case ImapFailure::Login:
            return true;
        case ImapFailure::Usage:
        case ImapFailure::Unreachable:
        case ImapFailure::Dropped:
        case ImapFailure::Protocol:
            return false;
    }
    return false;
}

}  // namespace vexa::imap
