// Where each message goes, through whole runs against the fake store: the store's own
// folders, the mirrored folder of the message's path, and no message lost when the
// routing finds no folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "run_harness.h"

namespace mailvane::testing {
namespace {

TEST(MessageImportTest, EveryMessageLandsInItsFolderAndNoneIsLost) {
  const struct {
    const char* file;
    const char* folder;  // "~" stands for the mirrored export's folder in the store
    bool rerouted;       // the routing found no folder: the mirrored one took it
  } rows[] = {
      {"Export/Inbox/1.eml", "Inbox", false},
      {"Export/inbox/1b.eml", "~\\Export\\inbox", false},
      {"Export/INBOX/8.eml", "~\\Export\\INBOX", false},
      {"Export/Inbox/Work/3.eml", "Inbox\\Work", false},
      {"Export/Sent/Old/5.eml", "Sent Items", false},
      {"Export/Sent Items/6.eml", "Sent Items", false},
      {"Export/Archive/2.eml", "~\\Export\\Archive", false},
      {"Export/Archive/A.EML", "~\\Export\\Archive", false},
      // Zimbra's Trash, Drafts and Junk are the store's own, their sub-folders inside them.
      {"Export/Trash/Old/9.eml", "Deleted Items\\Old", false},
      {"Export/Drafts/10.eml", "Drafts", false},
      {"Export/Junk/11.eml", "Junk E-mail", false},
      // Split folders are their folder; the file is still read from where it lies.
      {"Export/Inbox!3/b.eml", "Inbox", false},
      {"Export/Inbox!1/Work!2/c.eml", "Inbox\\Work", false},
      {"Export/Work!2/e.eml", "~\\Export\\Work", false},
      {"Export/Sent!18/f.eml", "Sent Items", false},
      {"Export/Calendar/9c.eml", "~\\Export\\Calendar", true},
      {"Export/InboxOld/7.eml", "~\\Export\\InboxOld", true},
      {"Export/Sent/Inbox.eml", "~\\Export\\Sent", true},
      {"Export/Junk!/j.eml", "~\\Export\\Junk!", true},
      {"Export/Inbox/Projects/Calendar/c2.eml", "Inbox\\Projects\\Calendar", true},
      {"Export/Contacts/x.eml", "~\\Export\\Contacts", true},
  };
  TempTree tree;
  Harness h;
  std::vector<std::string> files;
  std::size_t rerouted = 0;
  for (const auto& row : rows) {
    files.push_back(tree.Write(row.file, Rfc822(row.file)));
    rerouted += row.rerouted;
  }
  h.Run(files, tree.root().string() + "/out");
  for (const auto& row : rows) {
    std::string folder = row.folder;
    if (folder[0] == '~') folder = tree.StorePrefix() + folder.substr(1);
    EXPECT_EQ(h.world.FolderOfImported(std::filesystem::path(row.file).filename()), folder) << row.file;
  }
  EXPECT_EQ(h.run->Report().Rerouted().size(), rerouted);
  EXPECT_EQ(h.run->Report().Items(run::ItemKind::kMessage), std::size(rows));
  EXPECT_FALSE(h.run->Report().HasFailures());
}

TEST(MessageImportTest, AnInboxOfAnotherNameStillReceivesEveryMessage) {
  TempTree tree;
  Harness h;
  h.world.inbox_name = "Posteingang";
  h.Run({tree.Write("Export/Inbox/1.eml", Rfc822("a")), tree.Write("Export/Inbox/Work/3.eml", Rfc822("b"))},
        tree.root().string() + "/out");
  EXPECT_EQ(h.world.FolderOfImported("1.eml"), "Posteingang");
  // The row looks for "Inbox\Work", which does not exist: the message is not lost.
  EXPECT_EQ(h.world.FolderOfImported("3.eml"), "Posteingang\\Work");
  EXPECT_EQ(h.run->Report().Rerouted().size(), 1u);
}

}  // namespace
}  // namespace mailvane::testing
