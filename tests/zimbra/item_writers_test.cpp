// The item writers against a recording store: the properties each writes, in order,
// with what values, and how a failing step is recorded and passed over.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zimbra/item_writers.h"
#include "zimbra/fake_run.h"
#include "zimbra/mock_store.h"

namespace mailvane::zimbra {
namespace {

using ::testing::_;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Return;
using testing::FakeFailureLog;
using testing::FakeFrontEnd;
using testing::StoreWorld;

class WriterTest : public ::testing::Test {
 protected:
  StoreWorld world;
  FakeFrontEnd front;
  FakeFailureLog log;
  std::vector<std::string> notices;
  ItemContext ctx{world.session, "STORE-ID", front, log,
                  [this](std::string_view file, std::string_view note) {
                    notices.push_back(std::string(file) + ": " + std::string(note));
                  }};
};

ContactFields NumberedFields() {
  ContactFields f;
  int n = 0;
  ForEachContactField(f, [&](std::string& s) { s = "v" + std::to_string(++n); });
  f.ePhoto.clear();
  return f;
}

TEST_F(WriterTest, ContactWritesEveryPropertyInOrderFromItsField) {
  EXPECT_CALL(world.session, GetStoreFromID(std::string_view("STORE-ID")));
  EXPECT_CALL(world.store, GetDefaultFolder(store::DefaultFolder::kContacts));
  EXPECT_TRUE(CreateContactItem(ctx, "c.meta", "STORE-ID", 10, NumberedFields()));
  ASSERT_EQ(world.items.size(), 1u);
  EXPECT_EQ(world.items[0].type, store::ItemType::kContact);
  // Field numbers follow the writer's parameter order; 32, 40, 44-46, 48, 49 are not written.
  EXPECT_THAT(world.ops(),
              ElementsAre("FirstName=v1", "MiddleName=v2", "LastName=v3", "FullName=v4",
                          "JobTitle=v12", "CompanyName=v10", "BusinessTelephoneNumber=v24",
                          "BusinessFaxNumber=v25", "HomeTelephoneNumber=v41", "HomeFaxNumber=v42",
                          "MobileTelephoneNumber=v26", "PagerNumber=v27",
                          "CarTelephoneNumber=v28", "BusinessAddress=v13",
                          "BusinessAddressStreet=v14", "BusinessAddressCity=v15",
                          "BusinessAddressState=v17", "BusinessAddressPostalCode=v16",
                          "BusinessAddressCountry=v18", "HomeAddress=v33",
                          "HomeAddressStreet=v34", "HomeAddressCity=v35", "HomeAddressState=v37",
                          "HomeAddressPostalCode=v36", "HomeAddressCountry=v38",
                          "Email1Address=v7", "Email2Address=v8", "Email3Address=v9",
                          "BusinessHomePage=v20", "WebPage=v20", "IMAddress=v29 v30 v31",
                          "Categories=v47", "Department=v21", "OfficeLocation=v19",
                          "Profession=v11", "ManagerName=v22", "AssistantName=v23", "Title=v6",
                          "Suffix=v5", "Spouse=v39", "Body=v43", "Save"));
  EXPECT_THAT(log.failures, IsEmpty());
}

TEST_F(WriterTest, ContactDatesComeAfterBodyAndOnlyFromRealDates) {
  ContactFields f;
  EXPECT_TRUE(CreateContactItem(ctx, "c.meta", "STORE-ID", 10, f, "07/21/1985", "02/29/2001"));
  const auto& ops = world.ops();
  ASSERT_GE(ops.size(), 3u);
  EXPECT_EQ(ops[ops.size() - 3], "Body=");
  EXPECT_EQ(ops[ops.size() - 2], "Birthday@1985-07-21 00:00");  // no 29 Feb 2001
  EXPECT_EQ(ops.back(), "Save");

  world.items.clear();
  EXPECT_TRUE(CreateContactItem(ctx, "c.meta", "STORE-ID", 10, f, "1985-07-21", "06/01/2010"));
  EXPECT_THAT(world.ops(), ::testing::Contains("Anniversary@2010-06-01 00:00"));
  EXPECT_THAT(world.ops(), ::testing::Not(::testing::Contains(::testing::StartsWith("Birthday"))));
}

TEST_F(WriterTest, FailingContactStepsAreRecordedAndTheRestStillRuns) {
  ContactFields f;
  f.ePhoto = "/nowhere/photo.jpg";
  world.failing = {"LastName=", "picture "};
  EXPECT_TRUE(CreateContactItem(ctx, "c.meta", "STORE-ID", 10, f));
  EXPECT_THAT(log.steps(), ElementsAre("LastName", "AddPicture"));
  EXPECT_EQ(log.failures[0].file, "c.meta");
  EXPECT_THAT(log.failures[0].reason, ::testing::HasSubstr("refused"));
  EXPECT_EQ(world.ops()[1], "MiddleName=");
  EXPECT_EQ(world.ops()[2], "FullName=");
  EXPECT_EQ(world.ops().back(), "Save");
}

TEST_F(WriterTest, AnItemThatCannotBeCreatedIsOneFailureAndNothingElse) {
  EXPECT_CALL(world.session, GetStoreFromID(_))
      .WillOnce(::testing::Throw(store::StoreError("no such store")))
      .WillRepeatedly(::testing::ReturnRef(world.store));
  EXPECT_FALSE(CreateContactItem(ctx, "c.meta", "BAD", 10, NumberedFields()));
  EXPECT_THAT(log.steps(), ElementsAre("create item"));
  EXPECT_EQ(log.failures[0].reason, "no such store");

  EXPECT_CALL(world.store, GetDefaultFolder(_)).WillOnce(Return(::testing::ByMove(nullptr)));
  EXPECT_FALSE(CreateCalendarItem(ctx, "a.meta", "STORE-ID", 9, "s", "", "", "", "", "", nullptr));
  EXPECT_EQ(log.failures.size(), 2u);
  EXPECT_THAT(world.items, IsEmpty());
}

TEST_F(WriterTest, FailedSaveIsNotAWrittenItem) {
  world.failing = {"Save"};
  EXPECT_FALSE(CreateNotesItem(ctx, "n.meta", "STORE-ID", 12, "s", "b"));
  EXPECT_THAT(log.steps(), ElementsAre("Save"));
}

TEST_F(WriterTest, NoteWritesSubjectBodyAndSavesInTheNotesFolder) {
  EXPECT_CALL(world.store, GetDefaultFolder(store::DefaultFolder::kNotes));
  EXPECT_TRUE(CreateNotesItem(ctx, "n.meta", "STORE-ID", 12, "Team plan", "Goals"));
  EXPECT_EQ(world.items[0].type, store::ItemType::kNote);
  EXPECT_THAT(world.ops(), ElementsAre("Subject=Team plan", "Body=Goals", "Save"));
  EXPECT_GE(front.yields, 1);
}

// Appointment times: what each of Zimbra's four forms becomes.
struct TimeCase {
  const char* start;
  const char* end;
  std::vector<std::string> times;  // the ops between Subject and Location
};

class CalendarTimes : public WriterTest, public ::testing::WithParamInterface<TimeCase> {};

TEST_P(CalendarTimes, KeepTimeAndZone) {
  const TimeCase& c = GetParam();
  EXPECT_TRUE(CreateCalendarItem(ctx, "a.meta", "STORE-ID", 9, "Lunch", c.start, c.end,
                                 "Cafe", "", "Bring", nullptr));
  std::vector<std::string> expected = {"Subject=Lunch"};
  expected.insert(expected.end(), c.times.begin(), c.times.end());
  for (const char* s : {"Location=Cafe", "Categories=", "Body=Bring", "Save", "Save"}) {
    expected.push_back(s);
  }
  EXPECT_THAT(world.ops(), ElementsAreArray(expected));
  EXPECT_THAT(log.failures, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Forms, CalendarTimes,
    ::testing::Values(
        // Berlin in summer is UTC+2.
        TimeCase{"TZID=Europe/Berlin:20130412T120000", "TZID=Europe/Berlin:20130412T133000",
                 {"Start=2013-04-12 10:00Z", "End=2013-04-12 11:30Z"}},
        // ... and UTC+1 in winter; New York at UTC-5.
        TimeCase{"TZID=Europe/Berlin:20130112T120000", "TZID=America/New_York:20130112T120000",
                 {"Start=2013-01-12 11:00Z", "End=2013-01-12 17:00Z"}},
        TimeCase{"20130412T120000Z", "20130412T123015Z",
                 {"Start=2013-04-12 12:00Z", "End=2013-04-12 12:30:15Z"}},
        TimeCase{"20130412T140000", "20130412T150000",
                 {"Start@2013-04-12 14:00", "End@2013-04-12 15:00"}},
        // Both dates: an all-day event, Zimbra's end already the day after.
        TimeCase{"VALUE=DATE:20130412", "VALUE=DATE:20130413",
                 {"Start@2013-04-12 00:00", "End@2013-04-13 00:00", "AllDayEvent=true"}},
        // A date and a time: not all-day.
        TimeCase{"VALUE=DATE:20130412", "20130412T150000",
                 {"Start@2013-04-12 00:00", "End@2013-04-12 15:00"}},
        // No end, or texts that are not date-times: those properties stay unwritten.
        TimeCase{"TZID=Europe/Berlin:20130412T120000", "", {"Start=2013-04-12 10:00Z"}},
        TimeCase{"", "", {}}, TimeCase{"20130230T100000", "20130412T250000", {}}));

TEST_F(WriterTest, UnknownZoneIsReadAsLocalTimeAndTold) {
  EXPECT_TRUE(CreateCalendarItem(ctx, "a.meta", "STORE-ID", 9, "s",
                                 "TZID=(GMT+01.00) Amsterdam / Berlin:20130412T120000",
                                 "TZID=Mars/Olympus_Mons:20130412T130000", "", "", "", nullptr));
  EXPECT_THAT(world.ops(), ::testing::Contains("Start@2013-04-12 12:00"));
  EXPECT_THAT(world.ops(), ::testing::Contains("End@2013-04-12 13:00"));
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_THAT(notices[0], ::testing::HasSubstr("a.meta: Start: unknown time zone \"(GMT+01.00)"));
  EXPECT_THAT(notices[1], ::testing::HasSubstr("Mars/Olympus_Mons"));
}

TEST_F(WriterTest, AppointmentStepsFailOnTheirOwn) {
  world.failing = {"Start=", "Save"};
  EXPECT_FALSE(CreateCalendarItem(ctx, "a.meta", "STORE-ID", 9, "s", "20130412T120000Z",
                                  "20130412T130000Z", "l", "", "b", nullptr));
  EXPECT_THAT(log.steps(), ElementsAre("Start", "Save", "Save"));
  EXPECT_THAT(world.ops(), ElementsAre("Subject=s", "End=2013-04-12 13:00Z", "Location=l",
                                       "Categories=", "Body=b"));
}

TEST_F(WriterTest, TaskKeepsDatesOnlyFromEveryForm) {
  EXPECT_TRUE(CreateToDoItem(ctx, "t.meta", "STORE-ID", 13, "Send invoice",
                             "TZID=Europe/Berlin:20130410T233000", "VALUE=DATE:20130630",
                             "Invoice", nullptr));
  EXPECT_EQ(world.items[0].type, store::ItemType::kTask);
  EXPECT_EQ(world.items[0].folder, store::DefaultFolder::kTasks);
  EXPECT_THAT(world.ops(), ElementsAre("Subject=Send invoice", "StartDate@2013-04-10 00:00",
                                       "DueDate@2013-06-30 00:00", "Body=Invoice", "Save",
                                       "Save"));
  world.items.clear();
  EXPECT_TRUE(
      CreateToDoItem(ctx, "t.meta", "STORE-ID", 13, "", "20130412T120000Z", "", "", nullptr));
  EXPECT_THAT(world.ops(),
              ElementsAre("Subject=", "StartDate@2013-04-12 00:00", "Body=", "Save", "Save"));
  world.items.clear();
  // Short texts, non-digits and impossible days are not dates.
  EXPECT_TRUE(CreateToDoItem(ctx, "t.meta", "STORE-ID", 13, "", "2013041", "2O130630", "", nullptr));
  EXPECT_TRUE(CreateToDoItem(ctx, "t.meta", "STORE-ID", 13, "", "20130229", "20131301", "", nullptr));
  EXPECT_THAT(world.ops(0), ElementsAre("Subject=", "Body=", "Save", "Save"));
  EXPECT_THAT(world.ops(1), ElementsAre("Subject=", "Body=", "Save", "Save"));
}

}  // namespace
}  // namespace mailvane::zimbra
