// The TZDEFINITION stream read field by field at the offsets Outlook reads it at.
#include <gtest/gtest.h>

#include <vector>

#include "pst/ltp/le_bytes.h"
#include "zimbra/time_zone_definition.h"

namespace mailvane::zimbra {
namespace {

using pst::GetLe16;
using pst::GetLe32;

// PidLidTimeZoneStruct of Berlin: UTC+1, summer +1 h from the last Sunday of March 02:00
// to the last Sunday of October 03:00.
std::vector<std::uint8_t> BerlinStruct() {
  std::vector<std::uint8_t> s;
  for (std::uint32_t v : {0xFFFFFFC4u, 0u, 0xFFFFFFC4u}) pst::AppendLe32(s, v);
  for (std::uint16_t v : {0, 0, 10, 0, 5, 3, 0, 0, 0, 0, 0, 3, 0, 5, 2, 0, 0, 0}) {
    pst::AppendLe16(s, v);
  }
  return s;
}

TEST(TimeZoneDefinition, OneRuleConsistentWithTheStructAndFlaggedForItsUse) {
  const std::vector<std::uint8_t> zone = BerlinStruct();
  struct Row {
    TimeZoneUse use;
    std::uint16_t flags;  // 1: matches PidLidTimeZoneStruct, 2: the effective rule
  };
  for (const Row& row : {Row{TimeZoneUse::kRecurringSeries, 3}, Row{TimeZoneUse::kDisplay, 2}}) {
    const auto d = TimeZoneDefinition("Europe/Berlin", zone, 2023, row.use);
    ASSERT_TRUE(d);
    const std::vector<std::uint8_t>& b = *d;
    ASSERT_EQ(b.size(), 8 + 26 + 2 + 66u);
    EXPECT_EQ(GetLe16(b, 0), 0x0102);       // version 2.1
    EXPECT_EQ(GetLe16(b, 2), 6 + 2 * 13);   // cbHeader
    EXPECT_EQ(GetLe16(b, 4), 2);
    EXPECT_EQ(GetLe16(b, 6), 13);           // cchKeyName
    EXPECT_EQ(GetLe16(b, 8), 'E');
    EXPECT_EQ(GetLe16(b, 32), 'n');
    EXPECT_EQ(GetLe16(b, 34), 1);           // cRules
    const std::size_t r = 36;
    EXPECT_EQ(GetLe16(b, r), 0x0102);
    EXPECT_EQ(GetLe16(b, r + 2), 0x003E);
    EXPECT_EQ(GetLe16(b, r + 4), row.flags);
    EXPECT_EQ(GetLe16(b, r + 6), 2023);
    // lBias, lStandardBias, lDaylightBias, stStandardDate and stDaylightDate as in the struct.
    EXPECT_EQ(static_cast<std::int32_t>(GetLe32(b, r + 22)), -60);
    EXPECT_EQ(GetLe32(b, r + 26), 0u);
    EXPECT_EQ(static_cast<std::int32_t>(GetLe32(b, r + 30)), -60);
    EXPECT_EQ(GetLe16(b, r + 36), 10);  // standard: October
    EXPECT_EQ(GetLe16(b, r + 40), 5);   // last week
    EXPECT_EQ(GetLe16(b, r + 42), 3);   // 03:00
    EXPECT_EQ(GetLe16(b, r + 52), 3);   // daylight: March
    EXPECT_EQ(GetLe16(b, r + 58), 2);   // 02:00
  }
}

TEST(TimeZoneDefinition, RefusesWhatCannotBeAStream) {
  const std::vector<std::uint8_t> zone = BerlinStruct();
  const std::vector<std::uint8_t> short_struct(zone.begin(), zone.end() - 1);
  EXPECT_FALSE(TimeZoneDefinition("Europe/Berlin", short_struct, 2023, TimeZoneUse::kDisplay));
  EXPECT_FALSE(TimeZoneDefinition("", zone, 2023, TimeZoneUse::kDisplay));
  EXPECT_FALSE(TimeZoneDefinition(std::string(300, 'a'), zone, 2023, TimeZoneUse::kDisplay));
  EXPECT_FALSE(TimeZoneDefinition("Europe/Berlin", zone, 1600, TimeZoneUse::kDisplay));
}

}  // namespace
}  // namespace mailvane::zimbra
