// The time zone of an appointment in the form Outlook 2007 and later read first
// (PidLidAppointmentTimeZoneDefinitionRecur, ...StartDisplay, ...EndDisplay): a
// TZDEFINITION stream holding one rule, the one of the older PidLidTimeZoneStruct.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace mailvane::zimbra {

enum class TimeZoneUse {
  kRecurringSeries,  // the rule is also the series' PidLidTimeZoneStruct
  kDisplay,          // the zone a start or end is shown in
};

// The stream for zone key_name whose rule is the 48-byte PidLidTimeZoneStruct zone_struct,
// in force from year on; nullopt when zone_struct is not such a structure or the name
// is empty or too long for the stream.
std::optional<std::vector<std::uint8_t>> TimeZoneDefinition(
    std::string_view key_name, std::span<const std::uint8_t> zone_struct, int year,
    TimeZoneUse use);

}  // namespace mailvane::zimbra
