// FILETIME, the time stamp of Windows formats: 100-nanosecond intervals since 1601-01-01
// UTC, and its conversions to and from Unix seconds.
#pragma once

#include <cstdint>

namespace mailvane::base {

using FileTime = std::uint64_t;

inline constexpr std::int64_t kFileTimeEpochDelta = 11644473600;  // seconds 1601 -> 1970
inline constexpr std::int64_t kFileTimeTicksPerSecond = 10000000;

// Times before 1601 have no FILETIME; they clamp to its epoch.
constexpr FileTime FileTimeFromUnix(std::int64_t unix_seconds) {
  if (unix_seconds <= -kFileTimeEpochDelta) return 0;
  return static_cast<FileTime>(unix_seconds + kFileTimeEpochDelta) * kFileTimeTicksPerSecond;
}

constexpr std::int64_t UnixFromFileTime(FileTime t) {
  return static_cast<std::int64_t>(t / kFileTimeTicksPerSecond) - kFileTimeEpochDelta;
}

}  // namespace mailvane::base
