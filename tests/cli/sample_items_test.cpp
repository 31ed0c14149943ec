// The sample export converted by the built program, its contacts, appointments, tasks and
// notes read back field by field by pypff (pypff_read.py props, named properties resolved)
// against the values in the sample's .meta records.
// The program runs in Berlin's zone: east of UTC a day stored as a moment reads a day
// early, and a zoned time read as local time shows. It gets a temporary folder of its own,
// which must be empty afterwards. Skipped while the program is not built.
#include <algorithm>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "source/relative_folder.h"
#include "support/files.h"
#include "support/pst_readers.h"

namespace mailvane::testing {

namespace {

using namespace testsupport;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

fs::path Program() { return testsupport::BuiltProgram("mailvane"); }

// One item as pypff_read.py props prints it; texts keep the script's escapes ("\n" as \\n).
struct ReadItem {
  std::string folder;
  std::map<std::string, std::string> props;
  std::vector<std::pair<std::string, std::string>> attachments;  // name, bytes

  std::string Get(const std::string& key) const {
    const auto it = props.find(key);
    return it == props.end() ? "(none)" : it->second;
  }
};

std::vector<ReadItem> ParseItems(const std::string& out) {
  std::vector<ReadItem> items;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    std::vector<std::string> cells;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, '\t');) cells.push_back(cell);
    if (line.back() == '\t') cells.emplace_back();
    if (cells.size() != 3) continue;
    if (cells[0] == "ITEM") items.push_back({cells[1], {}, {}});
    if (items.empty()) continue;
    if (cells[0] == "P") items.back().props[cells[1]] = cells[2];
    if (cells[0] == "A") items.back().attachments.emplace_back(cells[1], FromHex(cells[2]));
  }
  return items;
}

using Fields = std::vector<std::pair<std::string, std::string>>;
using Attachments = std::vector<std::pair<std::string, std::string>>;

// The sample is converted once for all the tests, and read once by pypff.
class SampleItemsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!fs::exists(Program())) return;
    tree_ = new ScratchDir;
    fs::create_directories(tree_->path() / "tmp");
    run_ = RunCommand({"/usr/bin/env", "TZ=Europe/Berlin", "TMPDIR=" + (tree_->path() / "tmp").string(),
                       Program().string(), (SourceDir() / "examples" / "zimbra-export").string(),
                       (tree_->path() / "out").string()});
    pst_ = testsupport::OnlyFile(tree_->path() / "out", ".pst");
    if (testsupport::HavePypff() && !pst_.empty()) read_ = testsupport::RunPypff("props", pst_);
  }
  static void TearDownTestSuite() { delete std::exchange(tree_, nullptr); }
  void SetUp() override {
    if (!fs::exists(Program())) GTEST_SKIP() << Program() << " is not built";
    ASSERT_EQ(run_.exit_code, 0) << run_.out << run_.err;
    ASSERT_FALSE(pst_.empty());
  }

  // Every item of the four default folders as pypff reads it.
  static std::vector<ReadItem> ReadItems() {
    if (!testsupport::HavePypff()) return {};
    EXPECT_EQ(read_.exit_code, 0) << read_.err;
    EXPECT_THAT(read_.out, HasSubstr("\ndone\n"));
    return ParseItems(read_.out);
  }

  // The item of that folder whose property key has that value; fails the test when none.
  static const ReadItem& Find(const std::vector<ReadItem>& items, const std::string& folder,
                              const std::string& key, const std::string& value) {
    for (const ReadItem& item : items) {
      if (item.folder == folder && item.Get(key) == value) return item;
    }
    ADD_FAILURE() << "no item in " << folder << " with " << key << " = " << value;
    static const ReadItem none;
    return none;
  }

  static void Expect(const ReadItem& item, const Fields& want, const Attachments& files = {}) {
    for (const auto& [key, value] : want) {
      EXPECT_EQ(item.Get(key), value) << item.folder << " " << item.Get("0x0037") << ": " << key;
    }
    EXPECT_EQ(item.attachments, files) << item.folder << " " << item.Get("0x0037");
  }

  static inline ScratchDir* tree_ = nullptr;
  static inline fs::path pst_;
  static inline testsupport::CommandResult run_, read_;
};

// The run's counts and files, the store read by every reader (through a link too), each
// message in its folder, and no temporary file left.
TEST_F(SampleItemsTest, EveryReaderReadsTheStoreWithEveryItemInItsFolder) {
  const std::string counts =
      "Items written: 10 messages, 4 contacts, 6 appointments, 3 tasks, 1 notes\n";
  EXPECT_THAT(run_.out, HasSubstr("57 Messages Queued for Conversion.\n"));
  EXPECT_THAT(run_.out, HasSubstr("Zimbra Messages Converted Successfully.\n"));
  EXPECT_THAT(run_.out, HasSubstr(counts));
  // Data files, the Briefcase document and the records of messages, folders and tags.
  EXPECT_THAT(run_.out, HasSubstr("Files: 24 converted, 0 failed, 33 taken by no step\n"));
  const fs::path log = fs::path(pst_).replace_extension(".log");
  EXPECT_THAT(testsupport::ReadFile(log), HasSubstr(counts));
  EXPECT_THAT(testsupport::ReadFile(log), Not(HasSubstr("Failures")));
  EXPECT_THAT(testsupport::ReadFile(log), Not(HasSubstr("Notices")));  // every zone of the sample is known
  std::vector<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(tree_->path() / "tmp")) left.push_back(entry.path());
  EXPECT_THAT(left, IsEmpty());
  // A mailbox is private: the .pst and its report are its owner's alone.
  for (const fs::path& made : {pst_, log}) {
    EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_read | fs::perms::owner_write) << made;
  }

  // Readers follow a symbolic link to the file.
  const fs::path link = tree_->path() / "link" / "store.pst";
  fs::create_directories(link.parent_path());
  fs::create_symlink(pst_, link);
  ASSERT_TRUE(testsupport::HavePypff());
  const std::vector<MessageRow> rows = testsupport::CheckedMessageRows(pst_);
  EXPECT_EQ(testsupport::CheckedMessageRows(link), rows);
  const std::string p = source::RelativeFolder((SourceDir() / "examples" / "zimbra-export" / "x").string());
  const std::vector<MessageRow> expected = {
      {"Inbox", "Quarterly figures", 2},
      {"Inbox", "Grüße aus München", 0},
      {"Inbox", "Fwd: Lunch on Friday?", 1},
      {"Inbox", "Late arrival", 0},
      {"Inbox\\Projects", "Re: Budget 2024", 0},
      {"Inbox\\Projects\\2023", "Old plan", 0},
      {"Sent Items", "Re: Quarterly figures", 0},
      {"Drafts", "Ideas for the offsite", 0},
      {p + "\\Clients", "Welcome aboard", 0},
      {p + "\\Clients\\Acme", "Contract draft", 1},
  };
  std::vector<MessageRow> mail;
  std::map<std::string, int> others;
  for (auto [folder, subject, attachments] : rows) {
    // The second calendar and the task list are calendar and task folders of their own.
    if (folder == p + "\\Team Calendar") folder = "Calendar";
    if (folder == p + "\\Errands") folder = "Tasks";
    if (folder == "Calendar" || folder == "Tasks" || folder == "Contacts" || folder == "Notes") {
      ++others[folder];
    } else {
      mail.emplace_back(folder, subject, attachments);
    }
  }
  EXPECT_THAT(mail, ::testing::UnorderedElementsAreArray(expected));
  EXPECT_EQ(others, (std::map<std::string, int>{{"Calendar", 6}, {"Contacts", 4}, {"Notes", 1}, {"Tasks", 3}}));

  EXPECT_TRUE(testsupport::ReadWithPffinfo(pst_).ok);
  const testsupport::ReadpstResult rp = testsupport::ReadWithReadpst(pst_, tree_->path() / "readpst");
  EXPECT_EQ(rp.run.exit_code, 0) << rp.run.err;
  EXPECT_EQ(rp.run.err, "");
  // readpst exports no tasks and no notes: it counts them as skipped. Nothing else may be.
  for (const auto& summary : rp.summaries) {
    const bool skips = summary.folder == "Tasks" || summary.folder == "Errands" || summary.folder == "Notes";
    EXPECT_TRUE(skips || summary.skipped == 0) << summary.folder << "\n" << rp.run.out;
  }
  fs::create_directories(tree_->path() / "pffexport");
  const auto pe = testsupport::ReadWithPffexport(pst_, tree_->path() / "pffexport");
  EXPECT_TRUE(pe.ok) << pe.run.out << pe.run.err;

  // Attachments go from memory into the items: a temporary folder that is not a folder
  // changes nothing.
  const std::string not_a_folder = tree_->Write("plain-file");
  const auto r = RunCommand({"/usr/bin/env", "TMPDIR=" + not_a_folder, Program().string(),
                             (SourceDir() / "examples" / "zimbra-export").string(),
                             (tree_->path() / "out2").string()});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr(counts));
}

TEST_F(SampleItemsTest, ContactsKeepEveryMappedFieldAndTheirDays) {
  const std::vector<ReadItem> items = ReadItems();
  if (items.empty()) GTEST_SKIP() << "python3-pypff is not installed";
  const std::string email = "Address:0x8083";
  Expect(Find(items, "Contacts", email, "anna.becker@example.org"),
         {{"0x001a", "IPM.Contact"},
          {"0x3a06", "Anna"},
          {"0x3a11", "Becker"},
          {"0x3001", "Anna Becker"},
          {"0x0037", "Anna Becker"},
          {"Address:0x8005", "Becker, Anna"},
          {"Address:0x8080", "Anna Becker (anna.becker@example.org)"},
          {"Address:0x8082", "SMTP"},
          {"0x3a16", "Example Org"},
          {"0x3a46", "Controller"},  // Zimbra's job title is the profession
          {"0x3a1c", "+49 151 2345678"},
          {"0x3a5d", "Lindenstraße 7"},
          {"0x3a59", "Köln"},
          {"0x3a5c", "NRW"},
          {"0x3a5b", "50667"},
          {"0x3a5a", "Germany"},
          {"Address:0x801a", "Lindenstraße 7\\r\\nKöln, NRW  50667\\r\\nGermany"},
          {"Address:0x802b", "anna.example.org"},
          {"Address:0x8062", "xmpp:anna@chat.example.org"},  // the IM address: no padding for empty ones
          {"0x1000", "Prefers calls after 10:30.\\nVegetarian."},
          // The fields beyond the home address: work address, phones, pages, more mail.
          {"0x3a18", "Finance"},
          {"0x3a17", "Controller"},
          {"0x3a08", "+49 221 555 0100"},
          {"0x3a24", "+49 221 555 0199"},
          {"0x3a1f", "+49 221 555 0177"},
          {"0x3a4f", "Annie"},
          {"0x3a51", "https://example.org/finance"},
          {"Address:0x801b", "Domplatz 1\\r\\nKöln, 50667\\r\\nGermany"},
          {"Address:0x80a3", "a.becker@example.org"},
          // 1986-03-14: midnight in Berlin as a moment, and the day itself.
          {"0x3a42", "1986-03-13T23:00:00Z"},
          {"Address:0x80de", "1986-03-14T00:00:00Z"},
          {"0x3a41", "(none)"}});
  Expect(Find(items, "Contacts", email, "juergen@example.de"),
         {{"0x3a06", "Jürgen"},
          {"0x3a11", "Müller"},
          {"0x3001", "Jürgen Müller"},
          {"Address:0x8005", "Müller, Jürgen"},
          {"0x3a16", "Müller & Söhne"},
          {"0x1000", "(none)"},  // an empty field is no value
          // 2015-06-20, in summer time.
          {"0x3a41", "2015-06-19T22:00:00Z"},
          {"Address:0x80df", "2015-06-20T00:00:00Z"},
          {"0x3a42", "(none)"}});
  // The address book's own entries: an address and nothing else.
  for (const char* address : {"newsletter@shop.example", "carl@example.com"}) {
    Expect(Find(items, "Contacts", email, address),
           {{"0x001a", "IPM.Contact"}, {"Address:0x8080", address}, {"0x3a06", "(none)"}, {"0x3a11", "(none)"}});
  }
}

TEST_F(SampleItemsTest, AppointmentsKeepTheirMomentZoneAndAllDay) {
  const std::vector<ReadItem> items = ReadItems();
  if (items.empty()) GTEST_SKIP() << "python3-pypff is not installed";
  struct Appointment {
    std::string subject, start, end, minutes, all_day, location, body;
    Attachments files;
  };
  const Appointment expected[] = {
      {"Lunch with Carl", "2023-11-17T11:00:00Z", "2023-11-17T12:00:00Z", "60", "false",
       "Café Rosa", "Menu attached.", {{"menu.txt", "Soup, pasta, tiramisu.\n"}}},
      {"Team standup", "2023-11-20T08:00:00Z", "2023-11-20T08:15:00Z", "15", "false", "Room 2",
       "Daily: yesterday, today, blockers.", {}},
      // New York's 10:00 is 15:00 UTC, whatever the converting machine's zone.
      {"Call with New York office", "2023-11-28T15:00:00Z", "2023-11-28T15:30:00Z", "30",
       "false", "Phone", "Quarterly sync with the US team.", {}},
      // The local day, midnight to midnight; Zimbra's end is already the day after.
      {"Company holiday", "2023-11-23T23:00:00Z", "2023-11-24T23:00:00Z", "1440", "true", "",
       "Office closed.", {}},
  };
  EXPECT_EQ(std::count_if(items.begin(), items.end(),
                          [](const ReadItem& i) { return i.folder == "Calendar"; }),
            5);
  for (const Appointment& a : expected) {
    Expect(Find(items, "Calendar", "0x0037", a.subject),
           {{"0x001a", "IPM.Appointment"},
            {"0x0060", a.start},
            {"Appointment:0x820d", a.start},
            {"Appointment:0x8235", a.start},
            {"Common:0x8516", a.start},
            {"0x0061", a.end},
            {"Appointment:0x820e", a.end},
            {"Appointment:0x8236", a.end},
            {"Common:0x8517", a.end},
            {"Appointment:0x8213", a.minutes},
            {"Appointment:0x8215", a.all_day},
            {"Appointment:0x8208", a.location},
            {"0x1000", a.body}},
           a.files);
  }
}

TEST_F(SampleItemsTest, TasksKeepTheirDaysOnlyAndNotesTheirText) {
  const std::vector<ReadItem> items = ReadItems();
  if (items.empty()) GTEST_SKIP() << "python3-pypff is not installed";
  // A task's own dates are the days themselves; the common pair is Berlin's midnight in UTC.
  Expect(Find(items, "Tasks", "0x0037", "Send invoice"),
         {{"0x001a", "IPM.Task"},
          {"Task:0x8104", "2023-11-20T00:00:00Z"},
          {"Common:0x8516", "2023-11-19T23:00:00Z"},
          {"Task:0x8105", "2023-11-24T00:00:00Z"},
          {"Common:0x8517", "2023-11-23T23:00:00Z"},
          {"0x1000", "Invoice 2023-118 for Acme: net 30."},
          {"Task:0x8101", "1"},  // status, percent, priority
          {"Task:0x8102", "0.2"},
          {"0x0017", "2"}});
  // Due at 17:00 Berlin time: the day is kept, the time is not.
  Expect(Find(items, "Tasks", "0x0037", "Review contract"),
         {{"Task:0x8104", "2023-11-21T00:00:00Z"},
          {"Common:0x8516", "2023-11-20T23:00:00Z"},
          {"Task:0x8105", "2023-12-01T00:00:00Z"},
          {"Common:0x8517", "2023-11-30T23:00:00Z"},
          {"0x1000", "Check the liability clause."}},
         {{"clauses.txt", "Clause 7: liability.\n"}});
  Expect(Find(items, "Notes", "0x0037", "Offsite plan"),
         {{"0x001a", "IPM.StickyNote"}, {"0x1000", "Agenda: goals, budget, boat trip."}});
}

// The dates (YYYY-MM-DD) a recurrence blob lists as deleted and as modified occurrences,
// read from pypff's hex of PidLidAppointmentRecur (MS-OXOCAL 2.2.1.44.1).
std::pair<std::vector<std::string>, std::vector<std::string>> ExceptionDates(const std::string& hex) {
  const std::string b = FromHex(hex.substr(4));
  std::size_t at = 6;
  auto u16 = [&] { at += 2; return static_cast<unsigned char>(b.at(at - 2)) | static_cast<unsigned char>(b.at(at - 1)) << 8; };
  auto u32 = [&] { const unsigned lo = u16(); return lo | static_cast<unsigned>(u16()) << 16; };
  const unsigned pattern = u16();
  at += 2 + 4 + 4 + 4 + (pattern == 0 ? 0 : pattern == 3 ? 8 : 4) + 4 + 4 + 4;
  auto dates = [&] {
    std::vector<std::string> out(u32());
    for (std::string& d : out) {
      const std::time_t t = static_cast<std::time_t>(u32()) * 60 - 11644473600LL;
      char text[16];
      std::strftime(text, sizeof text, "%Y-%m-%d", std::gmtime(&t));
      d = text;
    }
    return out;
  };
  auto deleted = dates();
  return {deleted, dates()};
}

TEST_F(SampleItemsTest, OtherCalendarsSeriesTaskProgressAndMessageMarksArrive) {
  const std::vector<ReadItem> items = ReadItems();
  if (items.empty()) GTEST_SKIP() << "python3-pypff is not installed";
  // The other calendar and the task list are folders of their kind where the export has them.
  const testsupport::PypffResult tree = testsupport::ReadWithPypff(pst_);
  for (const auto& [folder, kind] :
       {std::pair{"Team Calendar", "IPF.Appointment"}, {"Errands", "IPF.Task"}}) {
    const fs::path in_folder = SourceDir() / "examples" / "zimbra-export" / folder / "x";
    const auto* f = tree.Find("Top of Personal Folders\\" + source::RelativeFolder(in_folder.string()));
    ASSERT_NE(f, nullptr) << folder;
    EXPECT_EQ(f->container_class.value_or(""), kind);
    EXPECT_EQ(f->messages, 1);
  }
  // A meeting in a second calendar: private, busy, reminded, with its HTML text and tag.
  Expect(Find(items, "Team Calendar", "0x0037", "Planning review"),
         {{"0x001a", "IPM.Appointment"},
          {"Appointment:0x820d", "2023-11-22T13:00:00Z"},
          {"0x0036", "2"},
          {"Appointment:0x8205", "2"},
          {"Appointment:0x8217", "1"},
          {"Common:0x8503", "true"},
          {"Common:0x8501", "15"},
          {"Common:0x8560", "2023-11-22T12:45:00Z"},
          {"0x0042", "Petra Owner"},
          {"PublicStrings:Keywords", "Work"}});
  EXPECT_EQ(FromHex(Find(items, "Team Calendar", "0x0037", "Planning review").Get("0x1013").substr(4)),
            "<html><body><p>Review the <b>plan</b> for 2024.</p></body></html>");
  // Tasks: status, percent, priority and the reminder a day before the due day.
  Expect(Find(items, "Errands", "0x0037", "Renew passport"),
         {{"0x001a", "IPM.Task"},
          {"Task:0x8101", "1"},
          {"Task:0x8102", "0.5"},
          {"0x0017", "0"},
          {"Task:0x8105", "2023-12-15T00:00:00Z"},
          {"Common:0x8503", "true"},
          {"Common:0x8502", "2023-12-13T23:00:00Z"}});
  // The weekly series: its third occurrence moved to the Tuesday, its fourth cancelled.
  const ReadItem& series = Find(items, "Calendar", "0x0037", "Weekly sync");
  EXPECT_EQ(series.Get("Appointment:0x8223"), "true");
  EXPECT_EQ(series.Get("Appointment:0x8231"), "2");
  EXPECT_EQ(series.Get("Appointment:0x8234"), "Europe/Berlin");
  EXPECT_EQ(series.Get("Appointment:0x8236"), "2023-12-10T23:00:00Z");
  const auto [deleted, modified] = ExceptionDates(series.Get("Appointment:0x8216"));
  EXPECT_EQ(deleted, (std::vector<std::string>{"2023-11-20", "2023-11-27"}));
  EXPECT_EQ(modified, (std::vector<std::string>{"2023-11-21"}));
  EXPECT_EQ(series.attachments.size(), 1u);
  // Outlook 2007 and later take the series' zone from its time zone definition only when
  // the definition's rule (flagged as the struct's: 3) equals PidLidTimeZoneStruct's.
  const std::string zone = FromHex(series.Get("Appointment:0x8233").substr(4));
  const std::string definition = FromHex(series.Get("Appointment:0x8260").substr(4));
  ASSERT_EQ(zone.size(), 48u);
  ASSERT_GE(definition.size(), 66u);
  EXPECT_EQ(definition.substr(definition.size() - 66 + 4, 2), std::string("\x03\x00", 2));
  EXPECT_EQ(definition.substr(definition.size() - 44),
            zone.substr(0, 12) + zone.substr(14, 16) + zone.substr(32, 16));
  // A flagged, replied, tagged message; a draft stays unsent; all are read.
  const ReadItem& flagged = Find(items, "Inbox", "0x0037", "Quarterly figures");
  for (const auto& [key, value] : Fields{{"0x0e07", "17"},
                                         {"0x1090", "2"},
                                         {"Common:0x8530", "Follow up"},
                                         {"0x1081", "102"},
                                         {"0x1080", "261"},
                                         {"PublicStrings:Keywords", "Work|Finance"}}) {
    EXPECT_EQ(flagged.Get(key), value) << key;
  }
  EXPECT_EQ(Find(items, "Inbox", "0x0037", "Grüße aus München").Get("0x0e07"), "1");
  EXPECT_EQ(Find(items, "Drafts", "0x0037", "Ideas for the offsite").Get("0x0e07"), "9");

  // --keep-unread: the message Zimbra has unread stays unread.
  const fs::path kept = tree_->path() / "kept";
  const auto r = RunCommand({Program().string(), "--keep-unread",
                             (SourceDir() / "examples" / "zimbra-export").string(), kept.string()});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  for (const auto& e : fs::directory_iterator(kept)) {
    if (e.path().extension() != ".pst") continue;
    const std::vector<ReadItem> again = ParseItems(testsupport::RunPypff("props", e.path()).out);
    EXPECT_EQ(Find(again, "Inbox", "0x0037", "Grüße aus München").Get("0x0e07"), "0");
    EXPECT_EQ(Find(again, "Inbox", "0x0037", "Late arrival").Get("0x0e07"), "1");
  }
}

}  // namespace
}  // namespace mailvane::testing
