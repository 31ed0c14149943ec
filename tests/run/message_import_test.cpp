// Where each message goes: the routing rows and, when they find no folder, the mirrored
// folder of the message's own path, through whole runs against the fake store.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "run/message_import.h"
#include "run_harness.h"

namespace mailvane::testing {
namespace {

using ::testing::ElementsAre;
using Target = run::MessageRoute::Target;

run::MessageRoute Route(Target target, std::string path = "") { return {target, std::move(path)}; }

// The rows the runs below cannot show apart: the runs see only where a message ended.
TEST(MessageRouteTest, RowsInTheirOrder) {
  EXPECT_EQ(run::RouteMessage("/E/Inbox/Work/Old/4.eml", "E\\Inbox\\Work\\Old"),
            Route(Target::kFolderPath, "Inbox\\Work\\Old"));
  EXPECT_EQ(run::RouteMessage("/E/InboxOld/7.eml", "E\\InboxOld"),
            Route(Target::kFolderPath, "InboxOld"));
  EXPECT_EQ(run::RouteMessage("/E/Sent/Inbox.eml", "E\\Sent"), Route(Target::kNone));
  // A name ending in "eml" without the dot is taken, but only the last row matches it.
  EXPECT_EQ(run::RouteMessage("/E/Inbox/noteml", "E\\Inbox"), Route(Target::kFolderPath, "E\\Inbox"));
  EXPECT_EQ(run::RouteMessage("/E/Trash/Old/9.eml", "E\\Trash\\Old"),
            Route(Target::kSpecialFolder, "E\\Trash\\Old"));
}

// The store-side folder each file's message ended in.
struct RoutedRun {
  TempTree tree;
  Harness h;
  std::string Folder(const std::string& file_name) { return h.world.FolderOfImported(file_name); }
  run::RunResult Convert(const std::vector<std::string>& relative_files) {
    std::vector<std::string> files;
    for (const auto& f : relative_files) files.push_back(tree.Write(f, Rfc822(f)));
    return h.Run(files, tree.root().string() + "/out");
  }
};

TEST(MessageImportTest, EveryPartRowAndItsFolder) {
  RoutedRun r;
  r.Convert({"Export/Inbox/1.eml", "Export/inbox/1b.eml", "Export/Inbox/Work/3.eml",
             "Export/Sent/Old/5.eml", "Export/Sent Items/6.eml", "Export/Archive/2.eml",
             "Export/INBOX/8.eml", "Export/Archive/A.EML", "Export/Trash/Old/9.eml",
             "Export/Drafts/10.eml", "Export/Junk/11.eml"});
  const std::string p = r.tree.StorePrefix();
  EXPECT_EQ(r.Folder("1.eml"), "Inbox");
  EXPECT_EQ(r.Folder("1b.eml"), p + "\\Export\\inbox");
  EXPECT_EQ(r.Folder("3.eml"), "Inbox\\Work");
  EXPECT_EQ(r.Folder("5.eml"), "Sent Items");
  EXPECT_EQ(r.Folder("6.eml"), "Sent Items");
  EXPECT_EQ(r.Folder("2.eml"), p + "\\Export\\Archive");
  EXPECT_EQ(r.Folder("8.eml"), p + "\\Export\\INBOX");
  EXPECT_EQ(r.Folder("A.EML"), p + "\\Export\\Archive");
  // Zimbra's Trash, Drafts and Junk are the store's own, their sub-folders inside them.
  EXPECT_EQ(r.Folder("9.eml"), "Deleted Items\\Old");
  EXPECT_EQ(r.Folder("10.eml"), "Drafts");
  EXPECT_EQ(r.Folder("11.eml"), "Junk E-mail");
  EXPECT_TRUE(r.h.run->Report().Rerouted().empty());
  EXPECT_FALSE(r.h.run->Report().HasFailures());
}

TEST(MessageImportTest, MessagesAreImportedAsRfc822AndMarkedRead) {
  RoutedRun r;
  r.Convert({"Export/Inbox/1.eml"});
  FakeFolderNode* inbox = r.h.world.Find("Inbox");
  ASSERT_EQ(inbox->items.size(), 1u);
  const FakeItemRecord& m = *inbox->items[0];
  EXPECT_EQ(m.type, store::ItemType::kMessage);
  EXPECT_EQ(m.import_format, 1024);
  ASSERT_EQ(m.props.size(), 1u);
  EXPECT_EQ(m.props[0].first, 0x0E070003u);
  EXPECT_EQ(m.props[0].second.AsInt32(), 1);  // read; no attachment, so no paperclip
}

TEST(MessageImportTest, NoMessageIsLostWhenTheRowsFindNoFolder) {
  RoutedRun r;
  r.Convert({"Export/Calendar/9.eml", "Export/InboxOld/7.eml", "Export/Sent/Inbox.eml",
             "Export/Junk!/j.eml", "Export/Inbox/Projects/Calendar/c.eml",
             "Export/Contacts/x.eml"});
  const std::string p = r.tree.StorePrefix();
  EXPECT_EQ(r.Folder("9.eml"), p + "\\Export\\Calendar");
  EXPECT_EQ(r.Folder("7.eml"), p + "\\Export\\InboxOld");
  EXPECT_EQ(r.Folder("Inbox.eml"), p + "\\Export\\Sent");
  EXPECT_EQ(r.Folder("j.eml"), p + "\\Export\\Junk!");
  EXPECT_EQ(r.Folder("c.eml"), "Inbox\\Projects\\Calendar");
  EXPECT_EQ(r.Folder("x.eml"), p + "\\Export\\Contacts");
  EXPECT_EQ(r.h.run->Report().Rerouted().size(), 6u);
  EXPECT_EQ(r.h.run->Report().Items(run::ItemKind::kMessage), 6u);
  EXPECT_FALSE(r.h.run->Report().HasFailures());
}

TEST(MessageImportTest, SplitFoldersRouteToTheirFolder) {
  RoutedRun r;
  r.Convert({"Export/Inbox/a.eml", "Export/Inbox!3/b.eml", "Export/Inbox!1/Work!2/c.eml",
             "Export/Work/d.eml", "Export/Work!2/e.eml", "Export/Sent!18/f.eml"});
  const std::string p = r.tree.StorePrefix();
  EXPECT_EQ(r.Folder("a.eml"), "Inbox");
  EXPECT_EQ(r.Folder("b.eml"), "Inbox");
  EXPECT_EQ(r.Folder("c.eml"), "Inbox\\Work");
  EXPECT_EQ(r.Folder("d.eml"), p + "\\Export\\Work");
  EXPECT_EQ(r.Folder("e.eml"), p + "\\Export\\Work");
  EXPECT_EQ(r.Folder("f.eml"), "Sent Items");
  // The file is still read from where it lies.
  EXPECT_NE(r.h.world.Find("Inbox")->items[1]->imported.find("Inbox!3"), std::string::npos);
  EXPECT_TRUE(r.h.run->Report().Rerouted().empty());
}

TEST(MessageImportTest, InboxFolderOfAnotherNameStillReceivesEveryMessage) {
  RoutedRun r;
  r.h.world.inbox_name = "Posteingang";
  r.Convert({"Export/Inbox/1.eml", "Export/Inbox/Work/3.eml"});
  EXPECT_EQ(r.Folder("1.eml"), "Posteingang");
  // The row looks for "Inbox\Work", which does not exist: the message is not lost.
  EXPECT_EQ(r.Folder("3.eml"), "Posteingang\\Work");
  EXPECT_EQ(r.h.run->Report().Rerouted().size(), 1u);
}

TEST(MessageImportTest, ManyMessagesOfOneRerouteFolderAllLandThereAndAreNamed) {
  RoutedRun r;
  std::vector<std::string> files;
  for (int i = 0; i < 50; ++i) files.push_back("Export/Calendar/" + std::to_string(i) + ".eml");
  r.Convert(files);
  FakeFolderNode* folder = r.h.world.Find(r.tree.StorePrefix() + "\\Export\\Calendar");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->items.size(), 50u);
  EXPECT_EQ(r.h.run->Report().Rerouted().size(), 50u);  // every one of them is named
}

}  // namespace
}  // namespace mailvane::testing
