// A date and time on the user's local clock, as the host reports a message's received time.
// The host converts from its own time representation; the core only formats it.
#pragma once

#include <compare>
#include <ctime>

namespace vexa {

struct LocalDateTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;

    // What a host reports for an item that has no received time yet, such as a message that is
    // still being sent: Outlook's own "none" date, 1 January 4501, which every host uses for it.
    static constexpr LocalDateTime None() { return {4501, 1, 1, 0, 0, 0}; }
    constexpr bool IsNone() const { return *this == None(); }

    auto operator<=>(const LocalDateTime&) const = default;
};

// The local clock now, to the second.
inline LocalDateTime CurrentLocalTime() {
    const std::time_t now = std::time(nullptr);
    // Called on the host's one thread, so localtime's shared result is not raced for.
    const std::tm local = *std::localtime(&now);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

}  // namespace vexa
