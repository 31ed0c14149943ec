// Wall time in a named IANA time zone to UTC, from the system's time zone database
// (TZif files under $TZDIR or /usr/share/zoneinfo). g++ 12 has no std::chrono::locate_zone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/civil_time.h"

namespace mailvane::base {

// Seconds since 1970 UTC of that wall time in zone; nullopt when the system does not
// know the zone (or the id is not a plain zone name). A wall time that a clock change
// skips or repeats takes the offset in force just before the change.
std::optional<std::int64_t> ZonedTimeToUnix(std::string_view zone,
                                            const CivilTime& wall);

// The zone's rule for the years after its table, as the POSIX TZ text that ends its TZif
// file ("CET-1CEST,M3.5.0,M10.5.0/3"); nullopt when the system has none.
std::optional<std::string> ZonePosixRule(std::string_view zone);

}  // namespace mailvane::base
