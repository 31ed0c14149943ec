// Reading the date and date-time texts of Zimbra records.
//
// Zimbra writes an appointment's or task's "st"/"et" value in one of four forms:
//   TZID=Europe/Berlin:20130412T140000   wall time in a named zone
//   20130412T120000Z                     UTC
//   20130412T140000                      floating (the reader's local zone)
//   VALUE=DATE:20130412                  a date without a time
// A contact's birthday is YYYY-MM-DD, or whatever a vCard import left there.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "store/mail_store.h"

namespace mailvane::zimbra {

// A date text YYYYMMDD (its first eight characters; more may follow) as 00:00 of that day.
// Fewer than eight characters, a non-digit among them, or no such day: not a date.
std::optional<store::LocalDateTime> ReadDateText(std::string_view yyyymmdd);

// A text MM/DD/YYYY as 00:00 of that day; anything else: not a date.
std::optional<store::LocalDateTime> ReadSlashDate(std::string_view mmddyyyy);

struct CalendarTime {
  enum class Kind { kDate, kFloating, kUtc, kZoned };
  Kind kind = Kind::kDate;
  store::LocalDateTime local;  // the wall time as written (00:00 for a date)
  std::string zone;            // kZoned: the TZID as written
};

// One of the four forms above; a value that is none of them: nullopt.
std::optional<CalendarTime> ReadCalendarTime(std::string_view value);

// A contact's birthday or anniversary as the text MM/DD/YYYY, when it is unambiguous:
// YYYY-MM-DD (as Zimbra writes it, optionally followed by a time), YYYYMMDD or YYYY/MM/DD.
// Anything else (a day without a year, DD/MM against MM/DD, ...): empty text.
std::string BirthdayText(std::string_view zimbra_value);

}  // namespace mailvane::zimbra
