// The occurrences a rule gives (the last one decides a series' end in Outlook's pattern) and
// the rules Outlook has no pattern for.
#include <gtest/gtest.h>

#include <cstdio>

#include "zimbra/recurrence_rule.h"

namespace mailvane::zimbra {
namespace {

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
