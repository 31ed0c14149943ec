// The markers and key tables of the four kinds of Zimbra records the conversion reads.
// Each table's destinations index a value set of that kind's ...ValueCount texts.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "zimbra/meta_keys.h"

namespace mailvane::zimbra {

// "d" opens the metadata dictionary, "3:fld" is the key of the contact's fields and the
// second "d" opens the dictionary that holds them.
inline constexpr std::string_view kContactMarker = "d3:fldd";
inline constexpr std::string_view kCalendarMarker = "/Calendar/";
inline constexpr std::string_view kTaskMarker = "/Tasks/";
inline constexpr std::string_view kNoteMarker = "/Notebook/";

enum ContactMetaValue : std::size_t {
  kContactCompany,
  kContactEmail,
  kContactFirstName,
  kContactHomeCountry,
  kContactHomeCity,
  kContactHomePostalCode,
  kContactHomeState,
  kContactHomeStreet,
  kContactHomeURL,
  kContactJobTitle,
  kContactLastName,
  kContactMobilePhone,
  kContactNotes,
  kContactValueCount,
};

enum CalendarMetaValue : std::size_t {
  kCalendarDescription,
  kCalendarSubject,
  kCalendarStart,  // date text YYYYMMDD
  kCalendarEnd,    // date text YYYYMMDD
  kCalendarLocation,
  kCalendarValueCount,
};

enum TaskMetaValue : std::size_t {
  kTaskDescription,
  kTaskSubject,
  kTaskStart,  // date text YYYYMMDD
  kTaskDue,    // date text YYYYMMDD
  kTaskValueCount,
};

enum NoteMetaValue : std::size_t {
  kNoteText,     // the page's fragment, key "f"
  kNoteSubject,  // the page's name, from the record's "name" JSON key
  kNoteValueCount,
};

std::span<const MetaKey> ContactMetaKeys();
std::span<const MetaKey> CalendarMetaKeys();
std::span<const MetaKey> TaskMetaKeys();
std::span<const MetaKey> NoteMetaKeys();

}  // namespace mailvane::zimbra
