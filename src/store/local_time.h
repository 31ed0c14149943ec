// Wall-clock dates of the system's local zone turned into UTC moments.
#pragma once

#include "pst/ltp/property_value.h"
#include "store/mail_store.h"

namespace mailvane::store {

// The UTC moment of a local date-time; raises StoreError for a date that does not exist
// (month 13, 30 February) or cannot be represented.
pst::FileTime FileTimeFromLocal(const LocalDateTime& local);

}  // namespace mailvane::store
