#include "adapters/memory/memory_faults.h"

namespace vexa::memory {

HostError FaultPlan::GenericFailure() {
    // E_FAIL, with the description the host gives an automation call it refuses.
    return HostError(static_cast<std::int32_t>(0x80004005u), "The operation failed.");
}

void FaultPlan::Fail(HostOp op, int times, std::optional<HostError> failure) {
    FailAfter(op, 0, times, std::move(failure));
}

void FaultPlan::FailAfter(HostOp op, int succeed, int times, std::optional<HostError> failure) {
    armed_.insert_or_assign(op, Armed{succeed, times, failure.value_or(GenericFailure())});
}

void FaultPlan::Check(HostOp op) {
    ++calls_[op];
    auto found = armed_.find(op);
    if (found == armed_.end()) return;
    if (found->second.skip > 0) {
        --found->second.skip;
        return;
    }
    HostError failure = found->second.failure;
    if (found->second.remaining != kAlways && --found->second.remaining <= 0) armed_.erase(found);
    throw failure;
}

int FaultPlan::Calls(HostOp op) const {
    auto found = calls_.find(op);
    return found == calls_.end() ? 0 : found->second;
}

}  // namespace vexa::memory
