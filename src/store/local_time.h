// Wall-clock dates of the system's local zone turned into UTC moments.
#pragma once

#include <ctime>

#include "base/file_time.h"
#include "pst/ltp/property_value.h"
#include "store/mail_store.h"

namespace mailvane::store {

// The UTC moment of a local date-time; raises StoreError for a date that does not exist
// (month 13, 30 February) or cannot be represented.
base::FileTime FileTimeFromLocal(const LocalDateTime& local);

// The wall-clock time itself, unconverted, as Outlook keeps a task's dates and a
// contact's local birthday: 20 November 00:00 is 00:00 on that day whatever the zone.
// Raises StoreError as FileTimeFromLocal does.
base::FileTime WallClockFileTime(const LocalDateTime& local);

// The system's local wall-clock time of a UTC moment, in the form of WallClockFileTime.
base::FileTime WallClockOfUtc(base::FileTime utc);

}  // namespace mailvane::store
