#include "zimbra/time_zone_definition.h"

#include "base/little_endian.h"

namespace mailvane::zimbra {
namespace {

constexpr std::size_t kZoneStructSize = 48;
constexpr std::size_t kMaxKeyName = 260;  // a registry key name's limit
constexpr std::uint16_t kRuleSize = 0x003E;  // a rule's bytes after its first four
constexpr std::uint16_t kFlagRecurCurrent = 0x0001, kFlagEffective = 0x0002;

void Append(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

std::optional<std::vector<std::uint8_t>> TimeZoneDefinition(
    std::string_view key_name, std::span<const std::uint8_t> zone_struct, int year,
    TimeZoneUse use) {
  if (zone_struct.size() != kZoneStructSize || key_name.empty() ||
      key_name.size() > kMaxKeyName || year < 1601 || year > 30827) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> out = {0x02, 0x01};
  // Header bytes after cbHeader: Reserved, cchKeyName, the name, cRules.
  base::Append16(out, static_cast<std::uint16_t>(6 + 2 * key_name.size()));
  base::Append16(out, 0x0002);
  base::Append16(out, static_cast<std::uint16_t>(key_name.size()));
  // Zone ids are ASCII; anything else would not name a zone anyway.
  for (char c : key_name) base::Append16(out, static_cast<unsigned char>(c) < 0x80 ? c : '?');
  base::Append16(out, 1);

  out.insert(out.end(), {0x02, 0x01});
  base::Append16(out, kRuleSize);
  base::Append16(out, use == TimeZoneUse::kRecurringSeries
                           ? kFlagRecurCurrent | kFlagEffective
                           : kFlagEffective);
  base::Append16(out, static_cast<std::uint16_t>(year));
  out.resize(out.size() + 14, 0);  // X: unused
  // The struct's biases and its two dates, without the year words before each date.
  Append(out, zone_struct.subspan(0, 12));
  Append(out, zone_struct.subspan(14, 16));
  Append(out, zone_struct.subspan(32, 16));
  return out;
}

}  // namespace mailvane::zimbra
