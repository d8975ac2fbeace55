// A date and time on the user's local clock, as the host reports a message's received time.
// The host converts from its own time representation; the core only formats it.
#pragma once

#include <compare>

namespace vexa {

struct LocalDateTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;

    auto operator<=>(const LocalDateTime&) const = default;
};

}  // namespace vexa
