// Recurring appointments converted by the built program and read back by readpst, which
// decodes the recurrence blob into an RRULE on its own: every pattern Outlook has
// (daily, weekdays, weekly with days, monthly by date and by weekday, yearly; INTERVAL,
// COUNT, UNTIL, no end) arrives, and a rule Outlook cannot express is written as its first
// occurrence and named in the report. Skipped while the program or readpst is missing.
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/files.h"
#include "support/pst_readers.h"
#include "zimbra/meta_record_writer.h"

namespace mailvane::testing {

namespace {

using namespace testsupport;
using ::testing::HasSubstr;
using ::testing::Not;
using zimbra::testing::KV;
using zimbra::testing::RecordLine;
using zimbra::testing::S;

// An appointment record of a series from 7 November 2023, 09:00-10:00 Berlin time.
std::string SeriesRecord(const std::string& name, const std::string& rrule) {
  const std::string rule = "d" + KV("dts", "TZID=Europe/Berlin:20231107T090000") +
                           KV("dur", "PT1H") + KV("recur", rrule) + S("t") + "i2ee";
  const std::string recurrence = "d" + S("add") + "d" + S("nr") + "i1e" + S("r0") + rule + "e" +
                                 S("t") + "i4ee";
  const std::string invite = "d" + S("af") + "i34e" +
                             KV("et", "TZID=Europe/Berlin:20231107T100000") + S("it") + "i11e" +
                             KV("n", name) + KV("st", "TZID=Europe/Berlin:20231107T090000") + "e";
  return RecordLine("/Calendar/",
                    "d" + S("apptRecur") + recurrence + S("inv0") + invite + S("nc") + "i1e" +
                        S("v") + "i10ee",
                    11);
}

// The PST and the report of the built program converting export under tree.
std::pair<fs::path, std::string> Convert(const ScratchDir& tree) {
  const auto run = RunCommand({"/usr/bin/env", "TZ=Europe/Berlin",
                                            BuiltProgram("mailvane").string(),
                                            (tree.path() / "export").string(),
                                            (tree.path() / "out").string()});
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  const fs::path out = tree.path() / "out";
  return {OnlyFile(out, ".pst"), ReadFile(OnlyFile(out, ".log"))};
}

TEST(RecurringSeriesTest, ReadpstReadsEveryPatternBackAndTheRestIsNamed) {
  const fs::path program = BuiltProgram("mailvane");
  if (!fs::exists(program)) GTEST_SKIP() << program << " is not built";
  if (!HaveProgram("readpst")) GTEST_SKIP() << "readpst is not installed";
  struct Row {
    const char* rrule;
    const char* readpst;  // "": no series written
  };
  const Row rows[] = {
      {"FREQ=DAILY;COUNT=5;INTERVAL=1", "RRULE:FREQ=DAILY;COUNT=5"},
      {"FREQ=DAILY;BYDAY=MO,TU,WE,TH,FR", "RRULE:FREQ=DAILY;BYDAY=MO;TU;WE;TH;FR"},
      // Until 31 January: the thirteenth Tuesday or Thursday of every other week.
      {"FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,TH;UNTIL=20240131T000000Z",
       "RRULE:FREQ=WEEKLY;COUNT=13;INTERVAL=2;BYDAY=TU;TH"},
      {"FREQ=MONTHLY;INTERVAL=1", "RRULE:FREQ=MONTHLY;BYMONTHDAY=7"},
      {"FREQ=MONTHLY;COUNT=3;BYDAY=2TU", "RRULE:FREQ=MONTHLY;COUNT=3;BYSETPOS=2;BYDAY=TU"},
      {"FREQ=MONTHLY;BYDAY=FR;BYSETPOS=-1;INTERVAL=3",
       "RRULE:FREQ=MONTHLY;INTERVAL=3;BYSETPOS=5;BYDAY=FR"},
      {"FREQ=YEARLY;INTERVAL=1", "RRULE:FREQ=YEARLY;BYMONTHDAY=7;BYMONTH=11"},
      {"FREQ=HOURLY;COUNT=3", ""},
      {"FREQ=MONTHLY;BYMONTHDAY=1,15", ""},
      {"FREQ=WEEKLY;BYWEEKNO=2", ""},
  };
  ScratchDir tree;
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    tree.Write("export/Calendar/" + std::to_string(i) + ".appt.meta",
               SeriesRecord("Series " + std::to_string(i), rows[i].rrule));
  }
  const auto [pst, report] = Convert(tree);
  ASSERT_FALSE(pst.empty());
  const fs::path dir = tree.path() / "readpst";
  fs::create_directories(dir);
  const auto r = RunCommand(
      {"readpst", "-j", "0", "-D", "-e", "-8", "-t", "a", "-o", dir.string(), pst.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::string ics;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.path().extension() == ".ics") ics += ReadFile(e.path());
  }
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const std::string summary = "\nSUMMARY:Series " + std::to_string(i) + "\n";
    const std::size_t at = ics.find(summary);
    ASSERT_NE(at, std::string::npos) << rows[i].rrule;
    const std::string event = ics.substr(at, ics.find("END:VEVENT", at) - at);
    EXPECT_THAT(event, HasSubstr("DTSTART;VALUE=DATE-TIME:20231107T080000Z")) << rows[i].rrule;
    const std::string notice = "/" + std::to_string(i) + ".appt.meta | the recurring series \"" +
                               rows[i].rrule + "\" was written as its first occurrence";
    if (*rows[i].readpst) {
      EXPECT_THAT(event, HasSubstr("\n" + std::string(rows[i].readpst) + "\n")) << rows[i].rrule;
      EXPECT_THAT(report, Not(HasSubstr(notice)));
    } else {
      EXPECT_THAT(event, Not(HasSubstr("RRULE"))) << rows[i].rrule;
      EXPECT_THAT(report, HasSubstr(notice));
    }
  }
}

// A weekly task regenerates in Outlook from the pattern it carries (the bare recurrence
// pattern, no appointment part); one Outlook cannot express stays a one-off task.
TEST(RecurringSeriesTest, TasksCarryTheirPatternAndTheRestIsNamed) {
  const fs::path program = BuiltProgram("mailvane");
  if (!fs::exists(program)) GTEST_SKIP() << program << " is not built";
  if (!HavePypff()) GTEST_SKIP() << "python3-pypff is not installed";
  const char* rules[] = {"FREQ=WEEKLY;COUNT=4;BYDAY=TU", "FREQ=HOURLY;COUNT=3"};
  ScratchDir tree;
  for (int i = 0; i < 2; ++i) {
    const std::string rule = "d" + KV("dts", "VALUE=DATE:20231107") + KV("recur", rules[i]) +
                             S("t") + "i2ee";
    const std::string invite = "d" + KV("n", "Chore " + std::to_string(i)) + S("it") +
                               "i15e" + KV("st", "VALUE=DATE:20231107") +
                               KV("et", "VALUE=DATE:20231108") + "e";
    tree.Write("export/Tasks/" + std::to_string(i) + ".task.meta",
               RecordLine("/Tasks/",
                          "d" + S("apptRecur") + "d" + S("add") + "d" + S("r0") + rule + "ee" +
                              S("inv0") + invite + S("nc") + "i1e" + S("v") + "i10ee",
                          15));
  }
  const auto [pst, report] = Convert(tree);
  ASSERT_FALSE(pst.empty());
  const auto check = RunCommand(
      {BuiltProgram("mailvane-pstcheck").string(), pst.string()});
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  const auto read = RunPypff("props", pst);
  ASSERT_EQ(read.exit_code, 0) << read.err;
  const std::string weekly = read.out.substr(0, read.out.find("Chore 1"));
  EXPECT_THAT(weekly, HasSubstr("Chore 0"));
  EXPECT_THAT(weekly, HasSubstr("\tTask:0x8126\ttrue\n"));
  // Weekly (0x200B), pattern week, period 1, Tuesday; after 4 occurrences; Monday first;
  // no exceptions; 7 and 28 November 2023; and nothing after.
  EXPECT_THAT(weekly, HasSubstr("\tTask:0x8116\thex:043004300b2001000000" "00000000" "0100000000000000"
                                "04000000" "22200000" "04000000" "01000000" "00000000" "00000000"
                                "4080410d" "60f6410d\n"));
  EXPECT_THAT(report, HasSubstr("/1.task.meta | the recurring task \"FREQ=HOURLY;COUNT=3\" was "
                                "written as one task: Outlook has no pattern for"));
  const std::string one_off = read.out.substr(read.out.find("Chore 1"));
  EXPECT_THAT(one_off, HasSubstr("\tTask:0x8126\tfalse\n"));
  EXPECT_THAT(one_off, Not(HasSubstr("Task:0x8116")));
}

}  // namespace
}  // namespace mailvane::testing
