// Wall time in a named IANA time zone to UTC, from the system's time zone database
// (TZif files under $TZDIR or /usr/share/zoneinfo). g++ 12 has no std::chrono::locate_zone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "store/mail_store.h"

namespace mailvane::zimbra {

// Seconds since 1970 UTC of that wall time in zone; nullopt when the system does not
// know the zone (or the id is not a plain zone name). A wall time that a clock change
// skips or repeats takes the offset in force just before the change.
std::optional<std::int64_t> ZonedTimeToUnix(std::string_view zone,
                                            const store::LocalDateTime& wall);

// The zone's rule for the years after its table, as the POSIX TZ text that ends its TZif
// file ("CET-1CEST,M3.5.0,M10.5.0/3"); nullopt when the system has none.
std::optional<std::string> ZonePosixRule(std::string_view zone);

// Seconds since 1970 of the wall time read as if it were UTC.
std::int64_t UnixOfWallTime(const store::LocalDateTime& wall);

// FILETIME (100 ns since 1601 UTC) of seconds since 1970.
constexpr std::uint64_t FileTimeOfUnix(std::int64_t unix_seconds) {
  return static_cast<std::uint64_t>(unix_seconds + 11644473600LL) * 10000000ULL;
}

}  // namespace mailvane::zimbra
