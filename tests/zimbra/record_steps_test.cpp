// The four record steps over records written the way Zimbra writes them (one JSON line,
// length-prefixed metadata): what they tell the item, what is named in the report, and the
// attachments of an appointment's data file. The sample export's items are read back field
// by field from the PST in tests/cli/sample_items_test.cpp; these are the cases it does not
// hold, and refusals only a recording item can make.
#include <cstdio>
#include <ctime>
#include <deque>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "source/folder_source.h"
#include "store/pst_session.h"
#include "support/fake_front_end.h"
#include "support/files.h"
#include "zimbra/item_steps.h"
#include "zimbra/meta_record_writer.h"
#include "zimbra/zimbra_files.h"

namespace mailvane::zimbra {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using testing::DataFile;
using testing::KV;
using testing::MimeAttachment;
using testing::RecordLine;
using testing::S;

using Step = bool (*)(ItemContext&, source::ExportFile&);

std::string TimeText(const base::CivilTime& t, const char* zone = "") {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d%s", t.year, t.month, t.day, t.hour, t.minute, zone);
  return buf;
}

// What a step told an item, one line per call: "Subject=Lunch", "Start@2013-04-12 14:00"
// (wall time), "Start=2013-04-12 10:00Z" (UTC), "member N <a>", "organizer N <a> 1/0",
// "recipient N <a> type/response", "attach name", "Save".
struct RecordedItem {
  store::ItemType type;
  std::vector<std::string> ops;
  std::vector<std::pair<std::string, std::string>> attachments;  // name, bytes
};

// Calls whose line starts as one of refused raise, as a store refusing a value does.
class RecordingItem : public store::Item {
 public:
  RecordingItem(RecordedItem& r, const std::vector<std::string>& refused) : r_(r), refused_(refused) {}
  void SetText(std::string_view n, std::string_view v) override { Op(std::string(n) + "=" + std::string(v)); }
  void SetDate(std::string_view n, const store::LocalDateTime& t) override { Op(std::string(n) + "@" + TimeText(t)); }
  void SetUtcTime(std::string_view n, base::FileTime t) override {
    const std::time_t unix_s = base::UnixFromFileTime(t);
    std::tm tm{};
    gmtime_r(&unix_s, &tm);
    Op(std::string(n) + "=" + TimeText({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, 0}, "Z"));
  }
  void SetBool(std::string_view n, bool v) override { Op(std::string(n) + (v ? "=true" : "=false")); }
  void SetInt(std::string_view n, int v) override { Op(std::string(n) + "=" + std::to_string(v)); }
  void AddAttachment(std::vector<std::uint8_t> bytes, std::string_view name) override {
    Op("attach " + std::string(name));
    r_.attachments.emplace_back(name, std::string(bytes.begin(), bytes.end()));
  }
  void AddPicture(const std::filesystem::path&) override {}
  void Import(const std::filesystem::path&, int) override {}
  void ImportStream(source::ByteReader&, std::uint64_t, int) override {}
  void SetOneProp(pst::ltp::PropTag, const pst::ltp::PropValue&, bool) override {}
  void SetNamedProp(const pst::messaging::NamedProperty&, const pst::ltp::PropValue&) override {}
  void AddRecipient(std::string_view n, std::string_view a, int type, int response, bool organizer) override {
    Op(std::string(organizer ? "organizer " : "recipient ") + std::string(n) + " <" + std::string(a) + "> " +
       std::to_string(type) + "/" + std::to_string(response));
  }
  void AddException(const store::OccurrenceException&) override {}
  void AddMember(std::string_view n, std::string_view a) override {
    Op("member " + std::string(n) + " <" + std::string(a) + ">");
  }
  bool HasAttachments() const override { return !r_.attachments.empty(); }
  void Save() override { Op("Save"); }

 private:
  void Op(std::string line) {
    for (const auto& f : refused_) {
      if (line.starts_with(f)) throw store::StoreError("refused: " + line);
    }
    r_.ops.push_back(std::move(line));
  }
  RecordedItem& r_;
  const std::vector<std::string>& refused_;
};

struct RecordingFolder : store::Folder {
  std::deque<RecordedItem>& items;
  const std::vector<std::string>& refused;
  RecordingFolder(std::deque<RecordedItem>& i, const std::vector<std::string>& r) : items(i), refused(r) {}
  std::string Name() const override { return "Records"; }
  std::vector<std::unique_ptr<store::Folder>> Folders() override { return {}; }
  std::unique_ptr<store::Folder> SubFolder(std::string_view) override { return nullptr; }
  std::unique_ptr<store::Folder> AddFolder(std::string_view, int) override { return nullptr; }
  std::unique_ptr<store::Item> AddItem(store::ItemType type) override {
    return std::make_unique<RecordingItem>(items.emplace_back(RecordedItem{type, {}, {}}), refused);
  }
};

struct FailureList : source::FailureLog {
  std::vector<std::string> lines;  // "file | step | reason"
  void RecordFailure(std::string_view file, std::string_view step, std::string_view reason) override {
    lines.push_back(std::string(file) + " | " + std::string(step) + " | " + std::string(reason));
  }
};

std::string ContactMeta(const std::string& fields) { return "d3:fldd" + fields + "e" + S("v") + "i10ee"; }

std::string InviteMeta(const std::string& invite) {
  return "d" + S("inv0") + "d" + KV("af", "") + invite + S("it") + "i11e" + "e" + S("v") + "i10ee";
}

class RecordStepTest : public ::testing::Test {
 protected:
  // Runs the step over a record written at export/relative; the item it made, or none.
  const RecordedItem* Convert(Step step, const std::string& relative, const std::string& record) {
    const std::size_t before = created.size();
    source::FolderFile file(Write(relative, record));
    step(ctx, file);
    return created.size() > before ? &created.back() : nullptr;
  }
  std::vector<std::string> Ops(Step step, const std::string& folder, const std::string& metadata,
                               int type) {
    const auto* item = Convert(step, folder + "/r.meta", RecordLine("/" + folder + "/", metadata, type));
    return item ? item->ops : std::vector<std::string>{};
  }

  std::string Write(const std::string& relative, const std::string& bytes) {
    return dir.Write("export/" + relative, bytes);
  }

  testsupport::ScratchDir dir{"zimbra"};
  std::deque<RecordedItem> created;
  std::vector<std::string> refused;
  store::PstSession session;  // not logged on: every item goes to the recording folder
  testsupport::FakeFrontEnd front;
  FailureList log;
  std::vector<std::string> notices;
  ItemContext ctx{session, "", front, log,
                  [this](std::string_view, std::string_view n) { notices.emplace_back(n); },
                  [this](const std::string&, store::ItemType) {
                    return std::make_unique<RecordingFolder>(created, refused);
                  }};
};

TEST_F(RecordStepTest, ContactsTakeTheirFieldsNamesAndDates) {
  const struct {
    std::string fields;
    std::vector<std::string> present, absent;
  } rows[] = {
      {KV("firstName", "Jane ") + KV("lastName", "Doe") + KV("homeURL", " http://jane.example.org:8080/"),
       {"FirstName=Jane", "FullName=Jane  Doe", "BusinessHomePage=jane.example.org:8080/"}, {}},
      {KV("homeURL", "HTTP://LOUD.EXAMPLE/http://x") + KV("lastName", "Doe"),
       {"FullName=Doe", "WebPage=HTTP://LOUD.EXAMPLE/x"}, {}},
      // The record's own date texts: only unambiguous dates of real days.
      {KV("anniversary", "20100601") + KV("birthday", "--07-21"), {"Anniversary@2010-06-01 00:00"}, {"Birthday"}},
      {KV("birthday", "1985-07-21") + KV("anniversary", "2001-02-29"), {"Birthday@1985-07-21 00:00"}, {"Anniversary"}},
      {KV("email", "{\"ZMVAL\":[\"a@x\",\"b@x\"]}") + KV("email2", "c@x") + KV("nickname", "Al"),
       {"Email1Address=a@x", "Email2Address=b@x", "Email3Address=c@x", "NickName=Al"}, {}},
  };
  for (const auto& row : rows) {
    const auto ops = Ops(ConvertContactRecord, "Contacts", ContactMeta(row.fields), 6);
    for (const auto& op : row.present) EXPECT_THAT(ops, Contains(op)) << row.fields;
    for (const auto& op : row.absent) EXPECT_THAT(ops, Not(Contains(::testing::StartsWith(op)))) << row.fields;
    EXPECT_EQ(ops.empty() ? "" : ops.back(), "Save");
  }
  EXPECT_THAT(log.lines, IsEmpty());
}

TEST_F(RecordStepTest, WhatHasNoPlaceIsNamedAndGroupsBecomeDistributionLists) {
  Ops(ConvertContactRecord, "Books",
      ContactMeta(KV("email", "{\"ZMVAL\":[\"a@x\",\"b@x\"]}") + KV("email2", "c@x") +
                  KV("tollFree", "0800 1") + KV("workEmail1", "d@x")),
      6);
  EXPECT_THAT(notices, ElementsAre("contact fields with no place in Outlook: "
                                   "[e-mail address: d@x] [tollFree: 0800 1]"));
  notices.clear();
  const auto ops = Ops(ConvertContactRecord, "Contacts",
                       ContactMeta(KV("dlist", "\"Doe, Jane\" <jane@x>, bob@x, Carl") +
                                   KV("fileAs", "8:Team") + KV("type", "group")),
                       6);
  EXPECT_EQ(created.back().type, store::ItemType::kDistList);
  EXPECT_THAT(ops, ElementsAre("DLName=Team", "member Doe, Jane <jane@x>", "member  <bob@x>", "Save"));
  EXPECT_THAT(notices, ElementsAre("group members without an address, not in the list: [Carl]"));
}

TEST_F(RecordStepTest, InvitesKeepProgressPeoplePrivacyAndReminders) {
  const struct {
    Step step;
    int type;
    std::string invite;
    std::vector<std::string> ops;
  } rows[] = {
      {ConvertTaskRecord, 15, KV("cl", "CON") + KV("pctcompl", "50") + KV("prio", "1") + KV("status", "INPR"),
       {"Status=1", "PercentComplete=50", "Importance=2", "Sensitivity=3"}},
      {ConvertTaskRecord, 15, KV("prio", "9") + KV("status", "COMP"),
       {"Status=2", "PercentComplete=100", "Complete=true", "Importance=0"}},
      // A day before the due day, 00:00 on the local clock.
      {ConvertTaskRecord, 15,
       S("al0") + "d" + KV("ac", "d") + KV("tr", "-P1D") + KV("tt", "r") + "e" +
           KV("et", "VALUE=DATE:20231215") + KV("status", "WAITING"),
       {"Status=3", "ReminderSet=true", "ReminderTime@2023-12-14 00:00"}},
      {ConvertCalendarRecord, 11,
       S("al0") + "d" + KV("ac", "a") + KV("tr", "-PT10M") + "e" + S("at0") + "d" +
           KV("a", "mailto:anna@x") + KV("cn", "Anna") + KV("ptst", "AC") + KV("r", "REQ") + "e" +
           S("at1") + "d" + KV("a", "bob@x") + KV("cn", "Bob") + KV("ptst", "TE") + KV("r", "OPT") +
           "e" + S("at2") + "d" + KV("a", "room@x") + KV("r", "NON") + "e" + KV("cl", "PRI") +
           KV("fb", "F") + KV("n", "Meeting") + S("org") + "d" + KV("a", "olga@x") +
           KV("cn", "Olga") + "e",
       {"BusyStatus=0", "Sensitivity=2", "ReminderSet=true", "ReminderMinutesBeforeStart=10",
        "MeetingStatus=1", "organizer Olga <olga@x> 1/0", "recipient Anna <anna@x> 1/3",
        "recipient Bob <bob@x> 2/2", "recipient  <room@x> 3/0"}},
  };
  for (const auto& row : rows) {
    const auto ops = Ops(row.step, "Lists", InviteMeta(row.invite), row.type);
    for (const std::string& op : row.ops) EXPECT_THAT(ops, Contains(op)) << row.invite;
  }
  EXPECT_THAT(log.lines, IsEmpty());
}

// The steps once kept values in variables that lived from one record to the next.
TEST_F(RecordStepTest, NothingCarriesOverFromTheRecordBefore) {
  Ops(ConvertCalendarRecord, "Calendar", InviteMeta(KV("desc", "Agenda") + KV("l", "Room 1") + KV("n", "A")), 11);
  Ops(ConvertContactRecord, "Contacts", ContactMeta(KV("company", "Acme") + KV("email", "a@x") + KV("notes", "n")), 6);
  const auto contact = Ops(ConvertContactRecord, "Contacts", ContactMeta(KV("firstName", "B")), 6);
  const auto appointment = Ops(ConvertCalendarRecord, "Calendar", InviteMeta(KV("n", "B")), 11);
  const auto task = Ops(ConvertTaskRecord, "Tasks", InviteMeta(KV("n", "C")), 15);
  for (const auto& ops : {contact, appointment, task}) {
    ASSERT_THAT(ops, Not(IsEmpty()));
    for (const char* old : {"CompanyName=Acme", "Email1Address=a@x", "Body=n", "Body=Agenda",
                            "Location=Room 1", "Subject=A"}) {
      EXPECT_THAT(ops, Not(Contains(old)));
    }
  }
}

TEST_F(RecordStepTest, RecordsWithoutTheirMarkerWriteNothingAndUnreadableOnesAreFailures) {
  const std::string folder_record = "{\"date\":1,\"Path\":\"/Contacts/Suppliers\",\"metadata\":\"d1:ai1ee\"}";
  EXPECT_EQ(Convert(ConvertContactRecord, "Contacts/0000000300-Suppliers.meta", folder_record), nullptr);
  EXPECT_EQ(Convert(ConvertCalendarRecord, "Calendar/x.appt.meta", ""), nullptr);
  EXPECT_EQ(Convert(ConvertTaskRecord, "Tasks/x.task.meta", "{\"Path\":\"/Trash/\"}"), nullptr);
  EXPECT_EQ(Convert(ConvertNoteRecord, "Notebook/x.wiki.meta", folder_record), nullptr);
  EXPECT_THAT(log.lines, IsEmpty());

  const std::string missing = (dir.path() / "export/Contacts/gone.meta").string();
  source::FolderFile gone(missing);
  EXPECT_FALSE(ConvertContactRecord(ctx, gone));
  EXPECT_THAT(log.lines, ElementsAre(::testing::StartsWith(missing + " | read record | ")));
  EXPECT_THAT(created, IsEmpty());
}

TEST_F(RecordStepTest, StepsThatFailAreRecordedAndTheRestStillRuns) {
  refused = {"Subject=", "Location="};
  const auto ops = Ops(ConvertCalendarRecord, "Calendar",
                       InviteMeta(KV("l", "Room") + KV("n", "S") + KV("desc", "b") +
                                  KV("st", "20130412T120000Z")),
                       11);
  EXPECT_THAT(ops, Contains("Start=2013-04-12 12:00Z"));
  EXPECT_THAT(ops, Contains("Body=b"));
  EXPECT_EQ(ops.back(), "Save");
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_THAT(log.lines[0], ::testing::HasSubstr(" | Subject | refused: Subject=S"));
  EXPECT_THAT(log.lines[1], ::testing::HasSubstr(" | Location | refused: Location=Room"));
  // An item whose save fails is no item written.
  refused = {"Save"};
  source::FolderFile note(Write("Notebook/p.wiki.meta",
                                        RecordLine("/Notebook/", "d" + KV("f", "text") + "e", 14)));
  EXPECT_FALSE(ConvertNoteRecord(ctx, note));
}

MimeAttachment Named(const std::string& name, const std::string& base64) {
  return {"Content-Type: text/plain; name=\"" + name + "\"\nContent-Disposition: attachment; filename=\"" +
              name + "\"\nContent-Transfer-Encoding: base64",
          base64};
}

// An appointment's data file: which parts become attachments, under which names, with
// which bytes; nothing written to disk on the way, not even with no temporary folder.
TEST_F(RecordStepTest, DataFileAttachmentsArriveFromMemoryWithSafeNames) {
  using Files = std::vector<std::pair<std::string, std::string>>;
  const std::string pdf("\x00\x01\xfe\xffq2 figures\r\n", 16);
  const struct {
    std::string data;  // "" : no data file
    Files files;
  } rows[] = {
      {DataFile({}), {}},  // the named text/calendar part is the invite's own body
      {DataFile({Named("notes.txt", "Zmlyc3Qgbm90ZXM="), Named("notes.txt", "c2Vjb25kIG5vdGVz"),
                 Named("../../evil", "AAH+/3EyIGZpZ3VyZXMNCg==")}),
       {{"notes.txt", "first notes"}, {"notes.txt", "second notes"}, {"evil", pdf}}},
      {DataFile({{"Content-Type: application/octet-stream\n"
                  "Content-Disposition: attachment; filename*=utf-8''caf%C3%A9%20menu.txt",
                  "menu"},
                 {"Content-Type: application/pdf; name=\"=?UTF-8?Q?r=C3=A9sum=C3=A9.pdf?=\"", "cv"},
                 {"Content-Type: application/octet-stream\nContent-Disposition: attachment", "blob"},
                 // Named but inline text: part of the body, as a mail program shows it.
                 {"Content-Type: text/plain; name=readme.txt\nContent-Disposition: inline", "hi"}}),
       {{"café menu.txt", "menu"}, {"résumé.pdf", "cv"}, {"attachment", "blob"}}},
      {DataFile({{"Content-Type: message/rfc822\nContent-Disposition: attachment; filename=fwd.eml",
                  "Subject: inner\n\ninner body"}}),
       {{"fwd.eml", "Subject: inner\n\ninner body"}}},
      // Text before the first "Subject: " is cut, or the header would not start the message.
      {"junk line\r\nmore junk: here\r\n\r\n" + DataFile({Named("a.txt", "YQ==")}), {{"a.txt", "a"}}},
      {DataFile({Named("a.txt", "YQ==")}, "subject: Lunch with Anna"), {}},
      {"", {}},
  };
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string old_tmpdir = tmpdir ? tmpdir : "";
  setenv("TMPDIR", (dir.path() / "no-such-folder").c_str(), 1);
  int n = 0;
  for (const auto& row : rows) {
    const std::string name = "Calendar/" + std::to_string(++n) + ".appt";
    if (!row.data.empty()) Write(name, row.data);
    const auto* item = Convert(ConvertCalendarRecord, name + ".meta",
                               RecordLine("/Calendar/", InviteMeta(KV("n", "Lunch")), 11));
    if (item == nullptr) {
      ADD_FAILURE() << n << ": no item";
      continue;
    }
    EXPECT_EQ(item->attachments, row.files) << n;
    EXPECT_EQ(item->ops.back(), "Save") << n;
  }
  tmpdir ? setenv("TMPDIR", old_tmpdir.c_str(), 1) : unsetenv("TMPDIR");
  EXPECT_THAT(log.lines, IsEmpty());
  for (const auto& below : {dir.path().parent_path(), dir.path(), dir.path() / "export", dir.path() / "export/Calendar"}) {
    EXPECT_FALSE(std::filesystem::exists(below / "evil")) << below;
  }

  // A failed add is recorded; the others are still added.
  refused = {"attach notes.txt"};
  Write("Calendar/f.appt", DataFile({Named("notes.txt", "YQ=="), Named("b.txt", "Yg==")}));
  const auto* item = Convert(ConvertCalendarRecord, "Calendar/f.appt.meta",
                             RecordLine("/Calendar/", InviteMeta(KV("n", "Lunch")), 11));
  EXPECT_EQ(item->attachments, (Files{{"b.txt", "b"}}));
  EXPECT_THAT(log.lines, ElementsAre(::testing::HasSubstr("f.appt.meta | add attachment 1 | ")));
}

TEST(DataFilePathOf, DropsOnlyTheEnding) {
  EXPECT_EQ(source::DataFilePathOf("/x/Calendar/Lunch.appt.meta"), "/x/Calendar/Lunch.appt");
  EXPECT_EQ(source::DataFilePathOf(" /x/old.meta/Tasks/Call.TASK.META "), "/x/old.meta/Tasks/Call.TASK");
  EXPECT_EQ(source::DataFilePathOf("/x/Tasks/Call.task"), "");
}

}  // namespace
}  // namespace mailvane::zimbra
