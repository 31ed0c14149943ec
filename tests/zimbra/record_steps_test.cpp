// The four record steps end to end: records written the way Zimbra writes them (one JSON
// line, length-prefixed metadata) go in, the recording store shows what came out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "source/folder_source.h"
#include "zimbra/fake_run.h"
#include "zimbra/item_steps.h"
#include "zimbra/meta_record_writer.h"
#include "zimbra/mock_store.h"
#include "zimbra/record_steps.h"
#include "zimbra/zimbra_files.h"

namespace mailvane::zimbra {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using testing::DataFile;
using testing::KV;
using testing::RecordLine;
using testing::S;

// A step over the folder's file at path.
bool OnFile(bool (*step)(ItemContext&, source::ExportFile&), ItemContext& ctx, const std::string& path) {
  source::FolderFile file(path);
  return step(ctx, file);
}

std::string ContactMeta(const std::string& fields) {
  return "d3:fldd" + fields + "e" + S("v") + "i10ee";
}

std::string InviteMeta(const std::string& invite) {
  return "d" + S("ape") + "i1365766200000e" + S("aps") + "i1365760800000e" + S("inv0") + "d" +
         KV("af", "") + invite + S("it") + "i11e" + "e" + S("nc") + "i1e" + S("rl") + "d" +
         S("n") + "i0ee" + S("tzm") + "d" + S("#0") + "d" + KV("tzid", "Europe/Berlin") + "ee" +
         KV("u", "5d1c8f2a") + S("v") + "i10ee";
}

// A notebook page's record: 25 keys, so "metadata" comes before "Path" and "name".
std::string PageLine(const std::string& name, const std::string& metadata) {
  using testing::JsonQuote;
  return "{\"date\":1365500000,\"metadata\":" + JsonQuote(metadata) +
         ",\"Ver\":10,\"mod_metadata\":440,\"FlagStr\":\"\",\"volume_id\":0,\"unread\":0,"
         "\"subject\":" + JsonQuote(name) +
         ",\"change_date\":1365500000,\"mod_content\":440,\"flags\":0,\"TagStr\":\"\","
         "\"type\":14,\"uuid\":\"8c0f2b6e\",\"blob_digest\":\"Iz\",\"id\":320,\"index_id\":0,"
         "\"Path\":" + JsonQuote("/Notebook/" + name) +
         ",\"size\":100,\"sender\":\"owner@example.com\",\"TagNames\":\"\",\"parent_id\":-1,"
         "\"name\":" + JsonQuote(name) + ",\"folder_id\":12,\"imap_id\":320}";
}

class RecordStepTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& relative, const std::string& line) {
    return sandbox.Write(relative, line);
  }
  const std::vector<std::string>& Last() const { return world.items.back().ops; }

  testing::Sandbox sandbox;
  testing::StoreWorld world;
  testing::FakeFrontEnd front;
  testing::FakeFailureLog log;
  std::vector<std::string> notices;
  ItemContext ctx{world.session, "STORE", front, log,
                  [this](std::string_view, std::string_view n) { notices.emplace_back(n); }};
};

TEST_F(RecordStepTest, ContactTakesItsFieldsIntoTheirProperties) {
  const std::string file = Write(
      "Contacts/Doe, Jane.meta",
      RecordLine("/Contacts/",
                 ContactMeta(KV("birthday", "1985-07-21") + KV("company", "Acme Ltd") +
                             KV("email", "jane.doe@example.com") +
                             KV("email2", "jdoe@home.example") + KV("firstName", "Jane ") +
                             KV("homeCity", "Berlin") + KV("homeCountry", "Germany") +
                             KV("homePostalCode", "10115") + KV("homeState", "BE") +
                             KV("homeStreet", "Hauptstraße 5") +
                             KV("homeURL", " http://jane.example.org:8080/") +
                             KV("jobTitle", "Buyer") + KV("lastName", "Doe") +
                             KV("mobilePhone", "+49 170 1234567") +
                             KV("notes", "Met at the fair.\nCall at 10:30.")),
                 6));
  EXPECT_TRUE(OnFile(ConvertContactRecord, ctx, file));
  EXPECT_THAT(front.statuses, ElementsAre("Converting Contacts... from (" + file + ")"));
  ASSERT_EQ(world.items.size(), 1u);
  EXPECT_EQ(world.items[0].folder, store::DefaultFolder::kContacts);
  const auto& ops = Last();
  for (const char* expected :
       {"FirstName=Jane", "LastName=Doe", "FullName=Jane  Doe", "JobTitle=",
        "CompanyName=Acme Ltd", "MobileTelephoneNumber=+49 170 1234567",
        "HomeAddressStreet=Hauptstraße 5", "HomeAddressCity=Berlin", "HomeAddressState=BE",
        "HomeAddressPostalCode=10115", "HomeAddressCountry=Germany",
        "Email1Address=jane.doe@example.com", "Email2Address=jdoe@home.example",
        "BusinessHomePage=jane.example.org:8080/", "WebPage=jane.example.org:8080/",
        "IMAddress=  ", "Profession=Buyer", "Body=Met at the fair.\nCall at 10:30.",
        "Birthday@1985-07-21 00:00"}) {
    EXPECT_THAT(ops, Contains(expected));
  }
  EXPECT_EQ(ops.back(), "Save");
  EXPECT_THAT(log.failures, IsEmpty());
}

TEST_F(RecordStepTest, ContactNamesWebAddressesAndDates) {
  const auto convert = [&](const std::string& fields) {
    OnFile(ConvertContactRecord, ctx, Write("Emailed Contacts/.meta",
                                    RecordLine("/Emailed Contacts/", ContactMeta(fields), 6)));
    return Last();
  };
  auto ops = convert(KV("homeURL", "https://secure.example") + KV("lastName", "Doe"));
  EXPECT_THAT(ops, Contains("FullName=Doe"));
  EXPECT_THAT(ops, Contains("WebPage=https://secure.example"));
  ops = convert(KV("homeURL", "HTTP://LOUD.EXAMPLE/http://x"));
  EXPECT_THAT(ops, Contains("FullName="));
  EXPECT_THAT(ops, Contains("WebPage=HTTP://LOUD.EXAMPLE/x"));
  // The record's own date texts reach the item (their forms are BirthdayText's).
  ops = convert(KV("anniversary", "20100601") + KV("birthday", "--07-21"));
  EXPECT_THAT(ops, Contains("Anniversary@2010-06-01 00:00"));
  EXPECT_THAT(ops, Not(Contains(::testing::StartsWith("Birthday"))));
}

TEST_F(RecordStepTest, NothingCarriesOverFromTheRecordBefore) {
  OnFile(ConvertCalendarRecord, ctx, Write("Calendar/1.appt.meta",
                                   RecordLine("/Calendar/",
                                              InviteMeta(KV("desc", "Agenda") +
                                                         KV("l", "Room 1") + KV("n", "A")),
                                              11)));
  OnFile(ConvertContactRecord, ctx, Write("Contacts/a.meta",
                                  RecordLine("/Contacts/",
                                             ContactMeta(KV("company", "Acme") +
                                                         KV("email", "a@x") +
                                                         KV("notes", "n")),
                                             6)));
  OnFile(ConvertContactRecord, ctx, Write("Contacts/b.meta",
                                  RecordLine("/Contacts/", ContactMeta(KV("firstName", "B")), 6)));
  EXPECT_THAT(Last(), Contains("CompanyName="));
  EXPECT_THAT(Last(), Contains("Email1Address="));
  EXPECT_THAT(Last(), Contains("Body="));
  OnFile(ConvertCalendarRecord, ctx, Write("Calendar/2.appt.meta",
                                   RecordLine("/Calendar/", InviteMeta(KV("n", "B")), 11)));
  EXPECT_THAT(Last(), ElementsAre("Subject=B", "Location=", "Categories=", "Body=", "Save",
                                  "Save"));
  OnFile(ConvertTaskRecord, ctx, Write("Tasks/3.task.meta",
                               RecordLine("/Tasks/", InviteMeta(KV("n", "C")), 15)));
  EXPECT_THAT(Last(), ElementsAre("Subject=C", "Body=", "Save", "Save"));
  OnFile(ConvertNoteRecord, ctx, Write("Notebook/p.wiki.meta", PageLine("P", "d" + S("v") + "i10ee")));
  EXPECT_THAT(Last(), ElementsAre("Subject=P", "Body=", "Save"));
  EXPECT_THAT(log.failures, IsEmpty());
}

TEST_F(RecordStepTest, RecordsWithoutTheirMarkerWriteNothing) {
  const std::string folder_record =
      Write("Contacts/0000000300-Suppliers.meta",
            "{\"date\":1,\"Path\":\"/Contacts/Suppliers\",\"metadata\":\"d1:ai1ee\"}");
  EXPECT_FALSE(OnFile(ConvertContactRecord, ctx, folder_record));
  EXPECT_FALSE(OnFile(ConvertCalendarRecord, ctx, Write("Calendar/x.appt.meta", "")));
  EXPECT_FALSE(OnFile(ConvertTaskRecord, ctx, Write("Tasks/x.task.meta", "{\"Path\":\"/Trash/\"}")));
  EXPECT_FALSE(OnFile(ConvertNoteRecord, ctx, folder_record));
  EXPECT_THAT(world.items, IsEmpty());
  EXPECT_THAT(log.failures, IsEmpty());
  EXPECT_THAT(front.statuses,
              ElementsAre("Converting Contacts... from (" + folder_record + ")",
                          "Converting Calendars... from (" + sandbox.root().string() +
                              "/export/Calendar/x.appt.meta)",
                          "Converting Tasks... from (" + sandbox.root().string() +
                              "/export/Tasks/x.task.meta)",
                          "Converting Notes... from (" + folder_record + ")"));
}

TEST_F(RecordStepTest, MarkerWithoutKeysStillWritesTheItem) {
  EXPECT_TRUE(OnFile(ConvertContactRecord,
      ctx, Write("Contacts/e.meta", RecordLine("/Contacts/", ContactMeta(""), 6))));
  EXPECT_EQ(Last().size(), 42u);
  EXPECT_THAT(Last(), Contains("IMAddress=  "));
  const std::string appt = Write("Calendar/e.appt.meta", RecordLine("/Calendar/", "d1:vi10ee", 11));
  sandbox.Write("Calendar/e.appt", DataFile({{"Content-Type: text/csv; name=a.csv", "a,b"}}));
  EXPECT_TRUE(OnFile(ConvertCalendarRecord, ctx, appt));
  EXPECT_THAT(Last(), ElementsAre("Subject=", "Location=", "Categories=", "Body=", "Save",
                                  "attach a.csv", "Save"));
}

TEST_F(RecordStepTest, UnreadableRecordIsRecorded) {
  const std::string missing = sandbox.root().string() + "/export/Contacts/gone.meta";
  EXPECT_FALSE(OnFile(ConvertContactRecord, ctx, missing));
  ASSERT_EQ(log.failures.size(), 1u);
  EXPECT_EQ(log.failures[0].file, missing);
  EXPECT_EQ(log.failures[0].step, "read record");
  EXPECT_THAT(world.items, IsEmpty());
}

TEST_F(RecordStepTest, AppointmentKeepsTimesZoneTextsAndAttachments) {
  const std::string file = Write(
      "Calendar/Team/0000000301-Lunch with Anna.appt.meta",
      RecordLine("/Calendar/Team/",
                 InviteMeta(KV("desc", " Bring the Q2 figures. ") +
                            KV("descH", "<html><body>Bring</body></html>") +
                            KV("et", "TZID=Europe/Berlin:20130412T133000") +
                            KV("l", "Café Central") + KV("n", "Re: Lunch with Anna") +
                            KV("st", "TZID=Europe/Berlin:20130412T120000")),
                 11));
  sandbox.Write("Calendar/Team/0000000301-Lunch with Anna.appt",
                DataFile({{"Content-Type: application/pdf; name=q2.pdf\n"
                           "Content-Disposition: attachment; filename=q2.pdf",
                           "pdf"}}));
  EXPECT_TRUE(OnFile(ConvertCalendarRecord, ctx, file));
  EXPECT_EQ(world.items[0].folder, store::DefaultFolder::kCalendar);
  EXPECT_EQ(world.items[0].type, store::ItemType::kAppointment);
  EXPECT_THAT(Last(), ElementsAre("Subject=Re: Lunch with Anna", "Start=2013-04-12 10:00Z",
                                  "End=2013-04-12 11:30Z", "Location=Café Central",
                                  "Categories=", "Body=Bring the Q2 figures.",
                                  "HTMLBody=<html><body>Bring</body></html>", "Save",
                                  "attach q2.pdf", "Save"));
  EXPECT_EQ(front.statuses.at(0), "Converting Calendars... from (" + file + ")");
  EXPECT_THAT(sandbox.Leftovers(), IsEmpty());
}

TEST_F(RecordStepTest, AppointmentEdgeCases) {
  // descH before desc, two names, all-day dates.
  OnFile(ConvertCalendarRecord,
      ctx, Write("Calendar/a.appt.meta",
                 RecordLine("/Calendar/",
                            "d" + S("inv0") + "d" + KV("descH", "<b>html</b>") +
                                KV("desc", "plain") + KV("et", "VALUE=DATE:20130413") +
                                KV("n", "First") + KV("st", "VALUE=DATE:20130412") + "e" +
                                S("inv1") + "d" + KV("n", "Second") + "e" + S("v") + "i10ee",
                            11)));
  EXPECT_THAT(Last(), ElementsAre("Subject=First", "Start@2013-04-12 00:00",
                                  "End@2013-04-13 00:00", "AllDayEvent=true", "Location=",
                                  "Categories=", "Body=plain", "HTMLBody=<b>html</b>", "Save",
                                  "Save"));
  EXPECT_THAT(notices, IsEmpty());
}

TEST_F(RecordStepTest, TaskTakesDatesOfItsValues) {
  const std::string file = Write(
      "Tasks/0000000305-Send invoice.TASK.META",
      RecordLine("/Tasks/",
                 InviteMeta(KV("desc", "Invoice 4711 for Acme, net 30.") +
                            KV("et", "VALUE=DATE:20130630") + KV("n", "Send invoice") +
                            KV("st", "TZID=Europe/Berlin:20130410T090000")),
                 15));
  EXPECT_TRUE(OnFile(ConvertTaskRecord, ctx, file));
  EXPECT_EQ(world.items[0].folder, store::DefaultFolder::kTasks);
  EXPECT_THAT(Last(), ElementsAre("Subject=Send invoice", "StartDate@2013-04-10 00:00",
                                  "DueDate@2013-06-30 00:00",
                                  "Body=Invoice 4711 for Acme, net 30.", "Save", "Save"));
  EXPECT_EQ(front.statuses.at(0), "Converting Tasks... from (" + file + ")");
}

TEST_F(RecordStepTest, NotebookPageBecomesANote) {
  const std::string file = Write(
      "Notebook/Team plan.wiki.meta",
      PageLine("Team plan", "d" + KV("cr", "owner@example.com") +
                                KV("ct", "text/html; charset=utf-8") + KV("dee", "true") +
                                KV("f", " Goals for Q2: ship the converter. ") + S("lt") +
                                "i0e" + S("v") + "i10ee"));
  EXPECT_TRUE(OnFile(ConvertNoteRecord, ctx, file));
  EXPECT_EQ(world.items[0].folder, store::DefaultFolder::kNotes);
  EXPECT_EQ(world.items[0].type, store::ItemType::kNote);
  EXPECT_THAT(Last(), ElementsAre("Subject=Team plan", "Body=Goals for Q2: ship the converter.",
                                  "Save"));
  EXPECT_EQ(front.statuses.at(0), "Converting Notes... from (" + file + ")");
}

TEST_F(RecordStepTest, InvitesKeepProgressPeoplePrivacyAndReminders) {
  const auto task = [&](const std::string& invite) {
    OnFile(ConvertTaskRecord, ctx, Write("Lists/t.task.meta", RecordLine("/Lists/", InviteMeta(invite), 15)));
    return Last();
  };
  struct Row {
    std::string invite;
    std::vector<std::string> ops;
  };
  const Row tasks[] = {
      {KV("cl", "CON") + KV("pctcompl", "50") + KV("prio", "1") + KV("status", "INPR"),
       {"Status=1", "PercentComplete=50", "Importance=2", "Sensitivity=3"}},
      {KV("prio", "9") + KV("status", "COMP"),
       {"Status=2", "PercentComplete=100", "Complete=true", "Importance=0"}},
      // A day before the due day, 00:00 on the local clock.
      {S("al0") + "d" + KV("ac", "d") + KV("tr", "-P1D") + KV("tt", "r") + "e" +
           KV("et", "VALUE=DATE:20231215") + KV("status", "WAITING"),
       {"Status=3", "ReminderSet=true", "ReminderTime@2023-12-14 00:00"}},
  };
  for (const Row& row : tasks) {
    for (const std::string& op : row.ops) EXPECT_THAT(task(row.invite), Contains(op)) << row.invite;
  }
  OnFile(ConvertCalendarRecord, ctx, Write("Team/m.appt.meta",
                 RecordLine("/Team/",
                            InviteMeta(S("al0") + "d" + KV("ac", "a") + KV("tr", "-PT10M") + "e" +
                                       S("at0") + "d" + KV("a", "mailto:anna@x") + KV("cn", "Anna") +
                                       KV("ptst", "AC") + KV("r", "REQ") + "e" + S("at1") + "d" +
                                       KV("a", "bob@x") + KV("cn", "Bob") + KV("ptst", "TE") +
                                       KV("r", "OPT") + "e" + S("at2") + "d" + KV("a", "room@x") +
                                       KV("r", "NON") + "e" + KV("cl", "PRI") + KV("fb", "F") +
                                       KV("n", "Meeting") + S("org") + "d" + KV("a", "olga@x") +
                                       KV("cn", "Olga") + "e"),
                            11)));
  for (const char* op : {"BusyStatus=0", "Sensitivity=2", "ReminderSet=true",
                         "ReminderMinutesBeforeStart=10", "MeetingStatus=1",
                         "organizer Olga <olga@x> 1/0", "recipient Anna <anna@x> 1/3",
                         "recipient Bob <bob@x> 2/2", "recipient  <room@x> 3/0"}) {
    EXPECT_THAT(Last(), Contains(op));
  }
  EXPECT_THAT(log.failures, IsEmpty());
}

TEST_F(RecordStepTest, ContactFieldsWithoutAPlaceAreNamed) {
  OnFile(ConvertContactRecord, ctx, Write("Books/x.meta",
                 RecordLine("/Books/",
                            ContactMeta(KV("email", "{\"ZMVAL\":[\"a@x\",\"b@x\"]}") +
                                        KV("email2", "c@x") + KV("nickname", "Al") +
                                        KV("tollFree", "0800 1") + KV("workEmail1", "d@x")),
                            6)));
  for (const char* op : {"Email1Address=a@x", "Email2Address=b@x", "Email3Address=c@x",
                         "NickName=Al"}) {
    EXPECT_THAT(Last(), Contains(op));
  }
  EXPECT_THAT(notices, ElementsAre("contact fields with no place in Outlook: "
                                   "[e-mail address: d@x] [tollFree: 0800 1]"));
}

TEST_F(RecordStepTest, ContactGroupBecomesADistributionList) {
  EXPECT_TRUE(OnFile(ConvertContactRecord, ctx, Write("Contacts/Team.meta",
                 RecordLine("/Contacts/",
                            ContactMeta(KV("dlist", "\"Doe, Jane\" <jane@x>, bob@x, Carl") +
                                        KV("fileAs", "8:Team") + KV("type", "group")),
                            6))));
  EXPECT_EQ(world.items.back().type, store::ItemType::kDistList);
  EXPECT_THAT(Last(), ElementsAre("DLName=Team", "member Doe, Jane <jane@x>", "member  <bob@x>",
                                  "Save"));
  EXPECT_THAT(notices, ElementsAre("group members without an address, not in the list: [Carl]"));
}

TEST(DataFilePathOf, DropsOnlyTheEnding) {
  EXPECT_EQ(source::DataFilePathOf("/x/Calendar/Lunch.appt.meta"), "/x/Calendar/Lunch.appt");
  EXPECT_EQ(source::DataFilePathOf(" /x/old.meta/Tasks/Call.TASK.META "), "/x/old.meta/Tasks/Call.TASK");
  EXPECT_EQ(source::DataFilePathOf("/x/Tasks/Call.task"), "");
}

}  // namespace
}  // namespace mailvane::zimbra
