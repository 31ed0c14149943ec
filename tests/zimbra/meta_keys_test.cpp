#include "zimbra/meta_keys.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zimbra/meta_key_tables.h"
#include "zimbra/meta_record.h"
#include "zimbra/meta_record_writer.h"
#include "zimbra/meta_text.h"

namespace mailvane::zimbra {
namespace {

using testing::KV;
using testing::S;

// What a conversion does with one record line: decode, cut, split, scan.
MetaValues Scan(const std::string& line, std::string_view marker, std::span<const MetaKey> table,
                MetaValues values = {}) {
  const std::u16string text = UnescapeJson(DecodeMetaBytes(line));
  const auto section = MetaSection(text, marker);
  if (section) ScanMetaKeys(MetaTokens(*section), table, values);
  return values;
}

std::string Invite(const std::string& keys) { return S("inv0") + "d" + keys + "e"; }

MetaValues ScanAppointment(const std::string& invite_keys, MetaValues values = {}) {
  const std::string metadata = "d3:apei1365766200000e3:apsi1365760800000e" + Invite(invite_keys) +
                               "2:nci1e2:rld1:ni0ee1:vi10ee";
  return Scan(testing::RecordLine("/Calendar/", metadata, 11), kCalendarMarker, CalendarMetaKeys(),
              std::move(values));
}

// Each row scans one contact section over values that were all "old" before.
TEST(ScanMetaKeys, OnlyWholeKeysWithTheirCountsAreTaken) {
  const struct {
    std::string line;
    std::vector<std::pair<ContactMetaValue, std::string>> values;
  } rows[] = {
      // Longer keys and value text that reads like a key are never taken for one.
      {"d3:fldd" + KV("email2", "a@x.example") + KV("homeCity", "x11:mobilePhone3:999") + KV("lastName", "Doe"),
       {{kContactEmail, "old"}, {kContactMobilePhone, "old"}, {kContactHomeCity, "x11:mobilePhone3:999"},
        {kContactLastName, "Doe"}}},
      // Case matters, and a key name must be followed by its count alone.
      {"d3:fldd" + KV("Company", "Big") + KV("companyName", "Other") + KV("company", "Right"),
       {{kContactCompany, "Right"}}},
      // A count that is not a number is no key; the real key after it is.
      {"d3:fldd7:company4x:Fake" + KV("company", "Real"), {{kContactCompany, "Real"}}},
      // A count too large to be a number settles the key, keeping the old value.
      {"d3:fldd7:company99999999999999999999:Acme" + KV("company", "Later"), {{kContactCompany, "old"}}},
      // Count 0 gives empty text; a count past the end gives the rest of the section.
      {"d3:fldd" + KV("company", "") + KV("email", "a@b.example"), {{kContactCompany, ""}, {kContactEmail, "a@b.example"}}},
      {"d3:fldd5:notes99:short: text", {{kContactNotes, "short: text"}}},
      // A key token at the very end has no value; an empty section and a record without
      // the marker leave everything alone; a second marker hides what follows it.
      {"x d3:fldd5:notes12", {{kContactNotes, "old"}, {kContactCompany, "old"}}},
      {"abc d3:fldd", {{kContactNotes, "old"}}},
      {"abc 7:company4:Acme", {{kContactCompany, "old"}}},
      {"d3:fldd" + KV("company", "First") + "e d3:fldd" + KV("email", "x@y.z"),
       {{kContactCompany, "First"}, {kContactEmail, "old"}}},
  };
  for (const auto& row : rows) {
    const auto v = Scan(row.line, kContactMarker, ContactMetaKeys(), MetaValues(kContactValueCount, "old"));
    for (const auto& [index, value] : row.values) EXPECT_EQ(v[index], value) << row.line;
  }
}

TEST(ScanMetaKeys, AppointmentRecordWithColonsAndNonAsciiText) {
  const std::string alarm =
      S("al0") + "d" + KV("ac", "d") + KV("ds", "Reminder") + KV("tr", "-PT5M") + "e";
  const std::string attendee =
      S("at0") + "d" + KV("a", "anna@example.com") + KV("cn", "Anna") + "e";
  const auto v =
      ScanAppointment("2:afi130e" + alarm + attendee +
                      KV("desc",
                         "Bring: the Q2 figures\n\xF0\x9F\x98\x80 \xE2\x82\xAC"
                         "5") +
                      KV("descH", "<html><body><div>Bring<\\/div></body></html>") +
                      KV("dinM", "true") + KV("et", "TZID=Europe/Berlin:20130412T133000") +
                      KV("l", "Caf\xC3\xA9 Central, \xE4\xBC\x9A\xE8\xAD\xB0\xE5\xAE\xA4") +
                      KV("n", "Re: Budget \xF0\x9F\x98\x80") +
                      KV("st", "TZID=Europe/Berlin:20130412T120000") + KV("status", "CONF"));
  ASSERT_EQ(v.size(), kCalendarValueCount);
  EXPECT_EQ(v[kCalendarDescription],
            "Bring: the Q2 figures\n\xF0\x9F\x98\x80 \xE2\x82\xAC"
            "5");
  EXPECT_EQ(v[kCalendarSubject], "Re: Budget \xF0\x9F\x98\x80");
  EXPECT_EQ(v[kCalendarLocation], "Caf\xC3\xA9 Central, \xE4\xBC\x9A\xE8\xAD\xB0\xE5\xAE\xA4");
  EXPECT_EQ(v[kCalendarStart], "20130412");
  EXPECT_EQ(v[kCalendarEnd], "20130412");
}

TEST(ScanMetaKeys, HtmlDescriptionAloneAndRepeatedKeys) {
  MetaValues before(kCalendarValueCount, "old");
  const auto v = ScanAppointment(KV("descH", "<p>Only HTML</p>") + KV("l", "") + KV("n", "First") +
                                     S("inv1") + "d" + KV("n", "Second") + KV("desc", "Late") + "e",
                                 before);
  // The exception's description is the first real "desc"; the first "n" wins.
  EXPECT_EQ(v[kCalendarDescription], "Late");
  EXPECT_EQ(v[kCalendarSubject], "First");
  EXPECT_EQ(v[kCalendarLocation], "");
  EXPECT_EQ(v[kCalendarStart], "old");
  EXPECT_EQ(v[kCalendarEnd], "old");
}

TEST(ScanMetaKeys, NotebookPageNameAndFragment) {
  const std::string metadata = KV("ct", "text/html; charset=utf-8") +
                               KV("f", "Goals for Q2: ship the converter, write the docs.");
  // A server whose JSON puts Path before metadata: both values are in the section.
  const std::string older = "{\"tags\":0,\"Path\":\"/Notebook/Team plan\",\"metadata\":" +
                            testing::JsonQuote("d" + metadata + "1:vi10ee") +
                            ",\"name\":\"Team plan\",\"folder_id\":12}";
  auto v = Scan(older, kNoteMarker, NoteMetaKeys());
  ASSERT_EQ(v.size(), kNoteValueCount);
  EXPECT_EQ(v[kNoteText], "Goals for Q2: ship the converter, write the docs.");
  EXPECT_EQ(v[kNoteSubject], "Team plan");

  // A name with nothing after it: no comma, no subject.
  v = Scan("{\"Path\":\"/Notebook/Plan\",\"size\":1,\"name\":\"Plan\"}", kNoteMarker,
           NoteMetaKeys(), {"text", "subject"});
  EXPECT_EQ(v[kNoteSubject], "");
  EXPECT_EQ(v[kNoteText], "text");
  // The JSON key is compared case-sensitively.
  v = Scan("{\"Path\":\"/Notebook/Plan\",\"size\":1,\"Name\":\"Plan\",\"id\":1}", kNoteMarker,
           NoteMetaKeys(), {"text", "subject"});
  EXPECT_EQ(v[kNoteSubject], "subject");
}

}  // namespace
}  // namespace mailvane::zimbra
