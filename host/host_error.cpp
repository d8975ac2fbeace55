#include "host/host_error.h"

#include <exception>
#include <new>

namespace vexa::error {

HostError Overflow() { return {kOverflow, "Overflow"}; }
HostError SubscriptOutOfRange() { return {kSubscriptOutOfRange, "Subscript out of range"}; }
HostError TypeMismatch() { return {kTypeMismatch, "Type mismatch"}; }
HostError ObjectNotSet() { return {kObjectNotSet, "Object variable or With block variable not set"}; }
HostError ApplicationDefined(std::int32_t number) {
    return {number, "Application-defined or object-defined error"};
}

}  // namespace vexa::error

namespace vexa {

std::string CurrentErrorDescription() noexcept {
    try {
        throw;
    } catch (const HostError& e) {
        return e.Description();
    } catch (const std::bad_alloc&) {
        return "Out of memory";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return error::ApplicationDefined().Description();
    }
}

bool CurrentErrorOutcomeUnknown() noexcept {
    try {
        throw;
    } catch (const HostError& e) {
        return e.OutcomeUnknown();
    } catch (...) {
        return false;
    }
}

bool CurrentErrorTransient() noexcept {
    try {
        throw;
    } catch (const HostError& e) {
        return e.Transient();
    } catch (const std::bad_alloc&) {
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace vexa
