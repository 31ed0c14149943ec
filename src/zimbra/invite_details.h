// What an appointment or task keeps beyond its subject, times, place and text: status,
// progress, priority, privacy, reminder, organizer and attendees, the HTML description.
#pragma once

#include <string_view>

#include "zimbra/guarded_item.h"
#include "zimbra/invite.h"
#include "zimbra/item_dates.h"

namespace mailvane::zimbra {

// Writes a date-time to the property name: zoned and UTC times as their moment, dates and
// floating times on the local wall clock (an unknown zone too, with a notice).
void WriteCalendarTime(GuardedItem& item, std::string_view name, const CalendarTime& t);

void WriteAppointmentDetails(GuardedItem& item, const Invite& invite);
void WriteTaskDetails(GuardedItem& item, const Invite& invite);

}  // namespace mailvane::zimbra
