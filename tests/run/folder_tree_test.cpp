// FolderList and the mirrored folder tree, against the fake store.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "run/folder_list.h"
#include "run/folder_tree.h"
#include "run/store_names.h"
#include "run_harness.h"

namespace mailvane::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

TEST(FolderListTest, EveryFolderAndItsAncestorsOnceInBinaryOrder) {
  FakeFrontEnd fe;
  std::vector<std::string> files = {"/Export/Inbox/1.eml", "/Export/Archive/2.eml",
                                    "/Export/Inbox/Work/3.eml", "/Export/Inbox/4.eml",
                                    "/Export/inbox/5.eml"};
  std::vector<std::string> list = run::BuildFolderList(files, 5, fe);
  EXPECT_THAT(list, ElementsAre("Export", "Export\\Archive", "Export\\Inbox", "Export\\Inbox\\Work",
                                "Export\\inbox"));
  // The order of the file list does not matter.
  std::vector<std::string> reversed(files.rbegin(), files.rend());
  EXPECT_EQ(run::BuildFolderList(reversed, 5, fe), list);
}

TEST(FolderListTest, SplitFoldersAreOneFolderAndOnlyTheCountedFilesAreRead) {
  FakeFrontEnd fe;
  std::vector<std::string> files = {"/E/Inbox/1.eml", "/E/Inbox!1/2.eml", "/E/Inbox!12/Old!2/3.eml",
                                    "/E/Junk!/4.eml", "/ignored/beyond/the/count.eml"};
  EXPECT_THAT(run::BuildFolderList(files, 4, fe),
              ElementsAre("E", "E\\Inbox", "E\\Inbox\\Old", "E\\Junk!"));
  EXPECT_EQ(fe.statuses.front(), "Reading Zimbra Folder(s)...");
  EXPECT_EQ(fe.statuses[2], "Reading Zimbra Folder... E\\Inbox");
  EXPECT_EQ(fe.statuses.back(), "Creating Outlook Folders...");
}

TEST(FolderListTest, FileInTheRootRaisesNamingIt) {
  FakeFrontEnd fe;
  EXPECT_THROW(run::BuildFolderList({"/E/a.eml", "/b.eml"}, 2, fe), std::runtime_error);
  EXPECT_THAT(run::BuildFolderList({}, 0, fe), IsEmpty());
}

TEST(StoreNamesTest, TimeStampDropsLeadingZerosButKeepsTwoDigitSecondsAndYear) {
  std::tm t = FixedTime();
  EXPECT_EQ(run::TimeStamp(t), "5.12.26 9.7.03");
  t.tm_year = 105;
  t.tm_mon = 0;
  t.tm_mday = 31;
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_sec = 59;
  EXPECT_EQ(run::TimeStamp(t), "31.1.05 23.59.59");
  EXPECT_EQ(run::PstPathFor("/out/", t), "/out/ZimbraMailbox31.1.05 23.59.59.pst");
  EXPECT_EQ(run::StoreDisplayNameFor(t), "Mailbox (Zimbra) : Created - 31.1.05 23.59.59");
}

// A store made by the fake session, and the tree over a folder list.
struct TreeFixture : ::testing::Test {
  FakeWorld world;
  FakeSession session{world};
  FakeFrontEnd fe;
  run::RunReport report;
  std::string id;
  std::string name = "Mailbox (Zimbra) : Created - 5.12.26 9.7.03";
  TempTree tree;

  void SetUp() override {
    store::Store& store = session.AddPSTStore(tree.root() / "t.pst", 1, name);
    id = store.EntryID();
    store.ValidateIPMTree();
  }
  void Build(const std::vector<std::string>& list) {
    run::TreeContext ctx{session, id, name, fe, report};
    run::CreateFolderTree(list, ctx);
  }
};

TEST_F(TreeFixture, InboxFoldersGoInsideTheStoresInboxAtAnyDepth) {
  Build({"Export", "Export\\Archive", "Export\\Inbox", "Export\\Inbox\\Work",
         "Export\\Inbox\\Work\\Old", "Export\\Inbox\\Work\\Old\\Older"});
  std::vector<std::string> folders = world.FolderPaths();
  EXPECT_THAT(folders, Contains("Export"));
  EXPECT_THAT(folders, Contains("Export\\Archive"));
  EXPECT_THAT(folders, Not(Contains("Export\\Inbox")));
  EXPECT_THAT(folders, Contains("Inbox\\Work"));
  EXPECT_THAT(folders, Contains("Inbox\\Work\\Old"));
  EXPECT_THAT(folders, Contains("Inbox\\Work\\Old\\Older"));
  EXPECT_TRUE(fe.HasStatus("Creating Outlook Folders... Old"));
  EXPECT_FALSE(report.HasFailures());
}

TEST_F(TreeFixture, InboxFoldersFollowTheInboxWhateverItsName) {
  world.defaults.clear();
  world.root->children.clear();
  world.inbox_name = "Posteingang";
  session.GetStoreFromID(id).ValidateIPMTree();
  Build({"E", "E\\Inbox", "E\\Inbox\\Work", "E\\Inbox\\Work\\Old"});
  EXPECT_THAT(world.FolderPaths(), Contains("Posteingang\\Work\\Old"));
}

TEST_F(TreeFixture, DefaultFolderEndingsAndBangsArePassedOverCaseSensitively) {
  Build({"Export", "Export\\Calendar", "Export\\Contacts", "Export\\Emailed Contacts",
         "Export\\Junk!", "Export\\Junk!\\Sub", "Export\\MyTasks", "Export\\Notebook", "Export\\Sent",
         "Export\\Conversations", "Export\\inbox", "Export\\tasks", "Export\\Sent Items"});
  std::vector<std::string> folders = world.FolderPaths();
  for (const char* gone : {"Export\\Calendar", "Export\\Contacts", "Export\\Emailed Contacts",
                           "Export\\Junk!", "Export\\Junk!\\Sub", "Export\\MyTasks",
                           "Export\\Notebook", "Export\\Sent", "Export\\Conversations"}) {
    EXPECT_THAT(folders, Not(Contains(gone)));
  }
  EXPECT_THAT(folders, Contains("Export\\inbox"));
  EXPECT_THAT(folders, Contains("Export\\tasks"));
  EXPECT_THAT(folders, Contains("Export\\Sent Items"));
  EXPECT_FALSE(report.HasFailures());
}

TEST_F(TreeFixture, MissingParentIsReportedNotFailedAndTheStatusStillShown) {
  Build({"Export", "Export\\Calendar", "Export\\Calendar\\Team"});
  EXPECT_THAT(world.FolderPaths(), Not(Contains("Export\\Calendar\\Team")));
  EXPECT_TRUE(fe.HasStatus("Creating Outlook Folders... Team"));
  EXPECT_FALSE(report.HasFailures());
}

TEST_F(TreeFixture, TopLevelFolderOfAnExistingNameIsNotMadeAgain) {
  Build({"Inbox", "Inbox\\Work", "Tasks", "New"});
  std::vector<std::string> folders = world.FolderPaths();
  EXPECT_EQ(std::count(folders.begin(), folders.end(), "Inbox"), 1);
  EXPECT_EQ(std::count(folders.begin(), folders.end(), "Tasks"), 1);
  EXPECT_THAT(folders, Contains("Inbox\\Work"));
  EXPECT_THAT(folders, Contains("New"));
}

TEST_F(TreeFixture, AFailingAddIsRecordedAndTheTreeGoesOn) {
  world.failing_folder_adds.insert("Broken");
  Build({"Export", "Export\\Broken", "Export\\Broken\\Child", "Export\\Fine"});
  EXPECT_THAT(world.FolderPaths(), Contains("Export\\Fine"));
  ASSERT_EQ(report.Failures().size(), 1u);
  EXPECT_EQ(report.Failures()[0].file, "Export\\Broken");
  EXPECT_EQ(report.OtherFailures(), 1u);
}

TEST_F(TreeFixture, OpenMAPIFolderWalksFromTheNamedStore) {
  Build({"Export", "Export\\Archive"});
  store::Store& store = session.GetStoreFromID(id);
  EXPECT_EQ(run::OpenMAPIFolder(store, "\\" + name + "\\Export\\Archive")->Name(), "Archive");
  EXPECT_EQ(run::OpenMAPIFolder(store, "\\" + name)->Name(), name);
  EXPECT_EQ(run::OpenMAPIFolder(store, "\\"), nullptr);
  EXPECT_THROW(run::OpenMAPIFolder(store, "\\" + name + "\\Export\\Nothing"), store::StoreError);
  EXPECT_THROW(run::OpenMAPIFolder(store, "\\Other store\\Export"), store::StoreError);
  EXPECT_THROW(run::OpenMAPIFolder(store, "Export"), store::StoreError);
  EXPECT_EQ(run::FindMAPIFolder(store, "\\" + name + "\\Export\\Nothing"), nullptr);
}

}  // namespace
}  // namespace mailvane::testing
