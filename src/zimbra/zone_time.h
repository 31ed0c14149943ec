// Wall time in a named IANA time zone to UTC, from the system's time zone database
// (TZif files under $TZDIR or /usr/share/zoneinfo). g++ 12 has no std::chrono::locate_zone.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "store/mail_store.h"

namespace mailvane::zimbra {

// Seconds since 1970 UTC of that wall time in zone; nullopt when the system does not
// know the zone (or the id is not a plain zone name). A wall time that a clock change
// skips or repeats takes the offset in force just before the change.
std::optional<std::int64_t> ZonedTimeToUnix(std::string_view zone,
                                            const store::LocalDateTime& wall);

// Seconds since 1970 of the wall time read as if it were UTC.
std::int64_t UnixOfWallTime(const store::LocalDateTime& wall);

// FILETIME (100 ns since 1601 UTC) of seconds since 1970.
constexpr std::uint64_t FileTimeOfUnix(std::int64_t unix_seconds) {
  return static_cast<std::uint64_t>(unix_seconds + 11644473600LL) * 10000000ULL;
}

}  // namespace mailvane::zimbra
