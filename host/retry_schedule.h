// The pauses before trying again what failed for a passing reason: the first pause, doubling
// after each failed try up to the longest, and back to the first once a try went through. The
// archive server's busy transactions, an unreachable archive and a dropped IMAP server are all
// waited for on one of these; only their first and longest pauses differ.
#pragma once

#include <algorithm>
#include <chrono>

namespace vexa {

class RetrySchedule {
public:
    using Duration = std::chrono::milliseconds;

    constexpr RetrySchedule(Duration first, Duration longest) noexcept
        : first_(first), longest_(longest), next_(first) {}

    // The pause before try `attempt` + 1 after `attempt` failed ones (0, 1, ...), whatever came before.
    constexpr Duration PauseAfter(int attempt) const noexcept {
        Duration pause = first_;
        for (int i = 0; i < attempt && pause < longest_; ++i) pause *= 2;
        return std::min(pause, longest_);
    }
    // The pause before the next try; the one after it is twice as long, up to the longest.
    constexpr Duration Next() noexcept {
        const Duration pause = next_;
        next_ = std::min(next_ * 2, longest_);
        return pause;
    }
    // A try went through: the next failure waits the first pause again.
    constexpr void Reset() noexcept { next_ = first_; }

private:
    Duration first_;
    Duration longest_;
    Duration next_;
};

}  // namespace vexa
