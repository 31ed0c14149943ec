// Reading Zimbra's date and date-time texts, and wall times in named zones.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <ctime>

#include "zimbra/item_dates.h"
#include "base/zone_time.h"

namespace mailvane::zimbra {
namespace {

std::string WallText(const base::CivilTime& t) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return std::string(buf, t.second ? 19 : 16);
}

std::string Read(std::string_view value) {
  const auto t = ReadCalendarTime(value);
  if (!t) return "none";
  static const char* kKinds[] = {"date", "floating", "utc", "zoned"};
  std::string s = std::string(kKinds[static_cast<int>(t->kind)]) + " " + WallText(t->local);
  if (!t->zone.empty()) s += " " + t->zone;
  return s;
}

TEST(ReadCalendarTime, TheFourFormsAndWhatIsNotOne) {
  EXPECT_EQ(Read("TZID=Europe/Berlin:20130412T140000"), "zoned 2013-04-12 14:00 Europe/Berlin");
  EXPECT_EQ(Read("TZID=\"Europe/Berlin\";VALUE=DATE-TIME:20130412T140000"),
            "zoned 2013-04-12 14:00 Europe/Berlin");
  EXPECT_EQ(Read("20130412T120005Z"), "utc 2013-04-12 12:00:05");
  EXPECT_EQ(Read("20130412T140000"), "floating 2013-04-12 14:00");
  EXPECT_EQ(Read("VALUE=DATE:20130412"), "date 2013-04-12 00:00");
  EXPECT_EQ(Read("20240229"), "date 2024-02-29 00:00");
  for (const char* bad : {"", "//", "2013041", "VALUE=DATE:", "2013-04-12", "20230229",
                          "20130431", "20131301", "16001231", "20130412T240000",
                          "20130412T1200", "20130412T120000+01", "20130412X120000"}) {
    EXPECT_EQ(Read(bad), "none") << bad;
  }
}

TEST(ReadDateText, NeedsEightDigitsOfARealDay) {
  EXPECT_EQ(WallText(*ReadDateText("20000229")), "2000-02-29 00:00");
  EXPECT_EQ(WallText(*ReadDateText("20130412T120000Z")), "2013-04-12 00:00");
  EXPECT_FALSE(ReadDateText("19000229"));
  EXPECT_FALSE(ReadDateText("2013 412"));
  EXPECT_FALSE(ReadDateText("+2013041"));
  EXPECT_EQ(WallText(*ReadSlashDate("04/12/2013")), "2013-04-12 00:00");
  EXPECT_FALSE(ReadSlashDate("//"));
  EXPECT_FALSE(ReadSlashDate("4/12/2013"));
  EXPECT_FALSE(ReadSlashDate("13/12/2013"));
}

TEST(BirthdayText, TakesOnlyUnambiguousDates) {
  EXPECT_EQ(BirthdayText("1985-07-21"), "07/21/1985");
  EXPECT_EQ(BirthdayText("1985-07-21T00:00:00Z"), "07/21/1985");
  EXPECT_EQ(BirthdayText("19850721"), "07/21/1985");
  EXPECT_EQ(BirthdayText("1985/07/21"), "07/21/1985");
  for (const char* skipped : {"", "--07-21", "07/21/1985", "21.07.1985", "1985-7-21",
                              "1985-02-30", "1985-07-21x", "July 21"}) {
    EXPECT_EQ(BirthdayText(skipped), "") << skipped;
  }
}

std::string Utc(std::string_view zone, int y, int mo, int d, int h, int mi) {
  store::LocalDateTime w;
  w.year = y, w.month = mo, w.day = d, w.hour = h, w.minute = mi;
  const auto t = base::ZonedTimeToUnix(zone, w);
  if (!t) return "unknown";
  const std::time_t s = *t;
  std::tm tm{};
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%MZ", gmtime_r(&s, &tm));
  return buf;
}

TEST(ZonedTimeToUnix, FollowsTheZoneDatabase) {
  EXPECT_EQ(Utc("Europe/Berlin", 2013, 4, 12, 12, 0), "2013-04-12 10:00Z");
  EXPECT_EQ(Utc("Europe/Berlin", 2013, 1, 12, 12, 0), "2013-01-12 11:00Z");
  EXPECT_EQ(Utc("Australia/Sydney", 2013, 1, 12, 12, 0), "2013-01-12 01:00Z");
  EXPECT_EQ(Utc("Asia/Kolkata", 2013, 1, 12, 12, 0), "2013-01-12 06:30Z");
  EXPECT_EQ(Utc("UTC", 2013, 1, 12, 12, 0), "2013-01-12 12:00Z");
  // A skipped wall time takes the offset before the change; a repeated one its first
  // occurrence (Berlin 2013: clocks forward 31 March 02:00, back 27 October 03:00).
  EXPECT_EQ(Utc("Europe/Berlin", 2013, 3, 31, 2, 30), "2013-03-31 01:30Z");
  EXPECT_EQ(Utc("Europe/Berlin", 2013, 10, 27, 2, 30), "2013-10-27 00:30Z");
  EXPECT_EQ(Utc("Europe/Berlin", 2013, 10, 27, 3, 0), "2013-10-27 02:00Z");
  // Past the table's last transition the zone's rule still applies.
  EXPECT_EQ(Utc("Europe/Berlin", 2060, 7, 1, 12, 0), "2060-07-01 10:00Z");
  EXPECT_EQ(Utc("Europe/Berlin", 2060, 1, 1, 12, 0), "2060-01-01 11:00Z");
}

TEST(ZonedTimeToUnix, RefusesUnknownAndUnsafeIdsAndLeavesTZAlone) {
  setenv("TZ", "America/New_York", 1);
  tzset();
  for (const char* id : {"Mars/Olympus_Mons", "../../etc/passwd", "/usr/share/zoneinfo/UTC",
                         "Europe/../UTC", "Europe", "(GMT+01.00) Amsterdam / Berlin", ""}) {
    EXPECT_EQ(Utc(id, 2013, 4, 12, 12, 0), "unknown") << id;
  }
  EXPECT_EQ(Utc("Europe/Berlin", 2060, 7, 1, 12, 0), "2060-07-01 10:00Z");
  EXPECT_STREQ(std::getenv("TZ"), "America/New_York");
  std::tm tm{};
  tm.tm_year = 113, tm.tm_mon = 0, tm.tm_mday = 12, tm.tm_hour = 12, tm.tm_isdst = -1;
  EXPECT_EQ(std::mktime(&tm), 1358010000);  // 12:00 in New York is 17:00Z
  unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace mailvane::zimbra
