// The binary forms Outlook keeps a recurring appointment in (MS-OXOCAL 2.2.1.44): the
// AppointmentRecurrencePattern of PidLidAppointmentRecur, and the time zone the series'
// times are wall-clock times of (PidLidTimeZoneStruct).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/mail_store.h"
#include "zimbra/recurrence_rule.h"

namespace mailvane::zimbra {

// A changed occurrence: where it moved (wall clock of the series' zone) and what it
// shows differently (empty: as the series).
struct ChangedOccurrence {
  store::LocalDateTime original_start;
  store::LocalDateTime start, end;
  std::string subject, location;
};

struct SeriesLayout {
  RecurrenceRule rule;
  store::LocalDateTime first_start;  // wall clock of the series' zone
  int duration_minutes = 0;
  std::vector<store::LocalDateTime> deleted;  // original starts of deleted occurrences
  std::vector<ChangedOccurrence> changed;
};

struct RecurrenceBlob {
  std::vector<std::uint8_t> bytes;
  int recurrence_type = 0;                     // PidLidRecurrenceType: 1 daily ... 4 yearly
  store::LocalDateTime first_day, last_day;    // midnight of the first and last occurrence
  bool ends = true;                            // false: no end date
};

// The pattern of a rule whose unsupported text is empty.
RecurrenceBlob MakeRecurrenceBlob(const SeriesLayout& series);

// PidLidTimeZoneStruct of a zone given by its POSIX TZ rule; nullopt for a text that
// does not read.
std::optional<std::vector<std::uint8_t>> TimeZoneStruct(std::string_view posix_rule);

// Minutes since 1601-01-01 00:00 of a wall-clock time (the blob's unit).
std::uint32_t MinutesSince1601(const store::LocalDateTime& t);

}  // namespace mailvane::zimbra
