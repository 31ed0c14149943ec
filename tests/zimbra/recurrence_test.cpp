// PidLidAppointmentRecur read field by field as MS-OXOCAL lays it out, for series starting
// Tuesday 7 November 2023 09:00-10:00; dates are minutes since 1601, worked out by hand.
#include <gtest/gtest.h>

#include "base/little_endian.h"
#include "zimbra/recurrence_blob.h"
#include <cstdio>
#include "zimbra/recurrence_rule.h"

namespace mailvane::zimbra {
namespace {

TEST(RecurrenceBlobTest, PatternFieldsOfKnownSeries) {
  constexpr std::uint32_t kNov7 = 222396480, kNoEnd = 0x5AE980DF;
  const struct {
    const char* rrule;
    std::uint16_t frequency, pattern;
    std::uint32_t first_date_time, period, specific, end_type, count, first_dow, start, end;
  } rows[] = {
      {"FREQ=DAILY;COUNT=5;INTERVAL=1", 0x200A, 0, 0, 1440, 0, 0x2022, 5, 1, kNov7, 222402240},
      // Every third day: the start's minutes modulo the period.
      {"FREQ=DAILY;INTERVAL=3", 0x200A, 0, 2880, 4320, 0, 0x2023, 10, 1, kNov7, kNoEnd},
      // Weeks counted from the Monday before the start; ends on Tuesday 30 January.
      {"FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,TH;UNTIL=20240131T000000Z", 0x200B, 1, 10080, 2, 0x14,
       0x2021, 13, 1, kNov7, 222517440},
      // Weeks from Sunday: 1601 began on a Monday, so six days into the first week.
      {"FREQ=WEEKLY;WKST=SU", 0x200B, 1, 8640, 1, 0x04, 0x2023, 10, 0, kNov7, kNoEnd},
      // The second Tuesday each quarter: the first one is 14 November, the last 14 May;
      // the period's first month is February 1601.
      {"FREQ=MONTHLY;INTERVAL=3;BYDAY=2TU;COUNT=3", 0x200C, 3, 44640, 3, 0x04, 0x2022, 3, 1,
       222406560, 222668640},
      // Every 7 November up to 2099: months counted from November 1601.
      {"FREQ=YEARLY;UNTIL=20990101", 0x200D, 2, 437760, 12, 7, 0x2021, 76, 1, kNov7,
       261843840},
  };
  for (const auto& row : rows) {
    SeriesLayout series;
    series.rule = *ParseRecurrenceRule(row.rrule);
    series.first_start = {2023, 11, 7, 9, 0, 0};
    series.duration_minutes = 60;
    const std::vector<std::uint8_t> b = MakeRecurrenceBlob(series).bytes;
    using base::Get16, base::Get32;
    EXPECT_EQ(Get16(b, 4), row.frequency) << row.rrule;
    EXPECT_EQ(Get16(b, 6), row.pattern) << row.rrule;
    EXPECT_EQ(Get32(b, 10), row.first_date_time) << row.rrule;
    EXPECT_EQ(Get32(b, 14), row.period) << row.rrule;
    std::size_t at = 22;
    if (row.pattern != 0) {
      EXPECT_EQ(Get32(b, at), row.specific) << row.rrule;
    }
    if (row.pattern == 3) {
      EXPECT_EQ(Get32(b, at + 4), 2u) << row.rrule;  // the second
    }
    at += row.pattern == 0 ? 0 : row.pattern == 3 ? 8 : 4;
    EXPECT_EQ(Get32(b, at), row.end_type) << row.rrule;
    EXPECT_EQ(Get32(b, at + 4), row.count) << row.rrule;
    EXPECT_EQ(Get32(b, at + 8), row.first_dow) << row.rrule;
    EXPECT_EQ(Get32(b, at + 12), 0u);  // no deleted occurrences
    EXPECT_EQ(Get32(b, at + 16), 0u);  // no modified ones
    EXPECT_EQ(Get32(b, at + 20), row.start) << row.rrule;
    EXPECT_EQ(Get32(b, at + 24), row.end) << row.rrule;
    EXPECT_EQ(Get32(b, at + 36), 540u) << row.rrule;  // 09:00
    EXPECT_EQ(Get32(b, at + 40), 600u) << row.rrule;  // 10:00
  }
}

// The occurrences a rule gives (the last one decides a series' end in Outlook's pattern) and
// the rules Outlook has no pattern for.
std::string Dates(const std::vector<store::LocalDateTime>& all) {
  std::string out;
  for (const auto& t : all) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d-%02d ", t.month, t.day);
    out += text;
  }
  return out;
}

TEST(RecurrenceRuleTest, OccurrencesFromTuesdayTheSeventhOfNovember2023) {
  const store::LocalDateTime first{2023, 11, 7, 9, 0, 0};
  const struct {
    const char* rrule;
    const char* dates;
  } rows[] = {
      {"FREQ=DAILY;COUNT=3;INTERVAL=2", "11-07 11-09 11-11 "},
      {"FREQ=DAILY;BYDAY=MO,TU,WE,TH,FR;COUNT=5", "11-07 11-08 11-09 11-10 11-13 "},
      {"FREQ=WEEKLY;BYDAY=MO,TH;COUNT=3", "11-09 11-13 11-16 "},
      {"FREQ=WEEKLY;INTERVAL=2;UNTIL=20231205T090000Z", "11-07 11-21 12-05 "},
      {"FREQ=MONTHLY;BYMONTHDAY=-1;COUNT=3", "11-30 12-31 01-31 "},
      {"FREQ=MONTHLY;BYDAY=-1FR;COUNT=2", "11-24 12-29 "},
      {"FREQ=MONTHLY;BYDAY=TU;BYSETPOS=2;COUNT=2", "11-14 12-12 "},
      {"FREQ=MONTHLY;COUNT=4", "11-07 12-07 01-07 02-07 "},
      {"FREQ=YEARLY;BYMONTH=2;COUNT=2", "02-07 02-07 "},
  };
  for (const auto& row : rows) {
    const auto rule = ParseRecurrenceRule(row.rrule);
    ASSERT_TRUE(rule) << row.rrule;
    EXPECT_EQ(rule->unsupported, "") << row.rrule;
    EXPECT_EQ(Dates(Occurrences(*rule, first, 50)), row.dates) << row.rrule;
  }
  // A series without an end is cut where asked.
  EXPECT_EQ(Occurrences(*ParseRecurrenceRule("FREQ=DAILY"), first, 2).size(), 2u);
}

TEST(RecurrenceRuleTest, WhatOutlookCannotExpressIsNamedAndWhatDoesNotReadIsNone) {
  const struct {
    const char* rrule;
    const char* unsupported;
  } rows[] = {
      {"FREQ=HOURLY", "FREQ=HOURLY"},
      {"FREQ=WEEKLY;BYWEEKNO=3", "BYWEEKNO=3"},
      {"FREQ=MONTHLY;BYMONTHDAY=1,15", "BYMONTHDAY"},
      {"FREQ=MONTHLY;BYDAY=1MO,3MO", "BYDAY with a position"},
      {"FREQ=MONTHLY;BYDAY=MO", "BYDAY without a position"},
      {"FREQ=DAILY;BYDAY=SA,SU", "BYDAY"},
      {"FREQ=WEEKLY;BYMONTH=3", "BYMONTH"},
  };
  for (const auto& row : rows) {
    const auto rule = ParseRecurrenceRule(row.rrule);
    ASSERT_TRUE(rule) << row.rrule;
    EXPECT_EQ(rule->unsupported, row.unsupported) << row.rrule;
  }
  for (const char* bad : {"", "INTERVAL=2", "FREQ=DAILY;COUNT=0", "FREQ=WEEKLY;BYDAY=XX",
                          "FREQ=DAILY;UNTIL=2023", "FREQ=DAILY;INTERVAL"}) {
    EXPECT_FALSE(ParseRecurrenceRule(bad)) << bad;
  }
}

}  // namespace
}  // namespace mailvane::zimbra
