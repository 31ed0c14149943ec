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

TEST(FolderListTest, EveryFolderAndItsAncestorsOnceInBinaryOrderSplitFoldersAsOne) {
  FakeFrontEnd fe;
  std::vector<std::string> files = {"/Export/Inbox/1.eml", "/Export/Archive/2.eml",
                                    "/Export/Inbox/Work/3.eml", "/Export/Inbox!1/4.eml",
                                    "/Export/inbox/5.eml", "/Export/Inbox!12/Old!2/6.eml",
                                    "/Export/Junk!/7.eml", "/ignored/beyond/the/count.eml"};
  const std::vector<std::string> list = run::BuildFolderList(files, 7, fe);
  EXPECT_THAT(list, ElementsAre("Export", "Export\\Archive", "Export\\Inbox", "Export\\Inbox\\Old",
                                "Export\\Inbox\\Work", "Export\\Junk!", "Export\\inbox"));
  // The order of the file list does not matter.
  std::vector<std::string> reversed(files.rbegin() + 1, files.rend());
  EXPECT_EQ(run::BuildFolderList(reversed, 7, fe), list);
  EXPECT_THROW(run::BuildFolderList({"/E/a.eml", "/b.eml"}, 2, fe), std::runtime_error);
  EXPECT_THAT(run::BuildFolderList({}, 0, fe), IsEmpty());
}

TEST(StoreNamesTest, TimeStampDropsLeadingZerosButKeepsTwoDigitSecondsAndYear) {
  std::tm t = FixedTime();
  EXPECT_EQ(run::TimeStamp(t), "5.12.26 9.7.03");
  t.tm_year = 105, t.tm_mon = 0, t.tm_mday = 31, t.tm_hour = 23, t.tm_min = 59, t.tm_sec = 59;
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
  std::vector<std::string> Build(const std::vector<std::string>& list) {
    run::TreeContext ctx{session, id, name, fe, report};
    run::CreateFolderTree(list, ctx);
    return world.FolderPaths();
  }
};

TEST_F(TreeFixture, InboxFoldersGoInsideTheStoresInboxAndDefaultFoldersAreNotMirrored) {
  const auto folders =
      Build({"Export", "Export\\Archive", "Export\\Inbox", "Export\\Inbox\\Work", "Export\\Inbox\\Work\\Old",
             "Export\\Calendar", "Export\\Calendar\\Team", "Export\\Contacts", "Export\\Emailed Contacts",
             "Export\\Junk!", "Export\\Junk!\\Sub", "Export\\MyTasks", "Export\\Notebook", "Export\\Sent",
             "Export\\Conversations", "Export\\inbox", "Export\\tasks", "Export\\Sent Items"});
  for (const char* made : {"Export", "Export\\Archive", "Inbox\\Work", "Inbox\\Work\\Old",
                           "Export\\inbox", "Export\\tasks", "Export\\Sent Items"}) {
    EXPECT_THAT(folders, Contains(made));
  }
  for (const char* gone : {"Export\\Inbox", "Export\\Calendar", "Export\\Calendar\\Team",
                           "Export\\Contacts", "Export\\Emailed Contacts", "Export\\Junk!",
                           "Export\\Junk!\\Sub", "Export\\MyTasks", "Export\\Notebook",
                           "Export\\Sent", "Export\\Conversations"}) {
    EXPECT_THAT(folders, Not(Contains(gone)));
  }
  EXPECT_FALSE(report.HasFailures());
}

TEST_F(TreeFixture, TopLevelFoldersOfAnExistingNameAreNotMadeAgain) {
  const auto folders = Build({"Inbox", "Inbox\\Work", "Tasks", "New"});
  EXPECT_EQ(std::count(folders.begin(), folders.end(), "Inbox"), 1);
  EXPECT_EQ(std::count(folders.begin(), folders.end(), "Tasks"), 1);
  EXPECT_THAT(folders, Contains("Inbox\\Work"));
  EXPECT_THAT(folders, Contains("New"));
}

TEST_F(TreeFixture, AFailingAddIsRecordedAndTheTreeGoesOn) {
  world.failing_folder_adds.insert("Broken");
  EXPECT_THAT(Build({"Export", "Export\\Broken", "Export\\Broken\\Child", "Export\\Fine"}),
              Contains("Export\\Fine"));
  ASSERT_EQ(report.Failures().size(), 1u);
  EXPECT_EQ(report.Failures()[0].file, "Export\\Broken");
  EXPECT_EQ(report.OtherFailures(), 1u);
}

}  // namespace
}  // namespace mailvane::testing
