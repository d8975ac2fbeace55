#include "adapters/postgres/local_time_zone.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>

namespace vexa::postgres {
namespace {

// "…/zoneinfo/Europe/Berlin" names "Europe/Berlin".
std::string AfterZoneinfo(std::string_view path) {
    constexpr std::string_view kMarker = "zoneinfo/";
    const auto at = path.rfind(kMarker);
    if (at == std::string_view::npos) return "";
    return std::string(path.substr(at + kMarker.size()));
}

}  // namespace

std::string LocalTimeZoneName() {
    if (const char* tz = std::getenv("TZ"); tz && *tz) {
        std::string_view zone(tz);
        if (zone.front() == ':') zone.remove_prefix(1);
        if (zone.starts_with('/')) return AfterZoneinfo(zone);
        return std::string(zone);
    }
    char target[4096];
    if (const ssize_t n = ::readlink("/etc/localtime", target, sizeof target - 1); n > 0) {
        std::string zone = AfterZoneinfo(std::string_view(target, static_cast<std::size_t>(n)));
        if (!zone.empty()) return zone;
    }
    std::ifstream file("/etc/timezone");
    std::string zone;
    std::getline(file, zone);
    while (!zone.empty() && (zone.back() == ' ' || zone.back() == '\r')) zone.pop_back();
    return zone;
}

std::string FixedOffsetZone(long eastSeconds) {
    // POSIX counts hours west of Greenwich as positive.
    const long west = -eastSeconds;
    const long magnitude = west < 0 ? -west : west;
    char text[32];
    std::snprintf(text, sizeof text, "LOC%c%02ld:%02ld", west < 0 ? '-' : '+', magnitude / 3600, magnitude % 3600 / 60);
    return text;
}

}  // namespace vexa::postgres
