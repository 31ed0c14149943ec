// Stores and their folders: the standard folders, names and paths, commits and reopens,
// and folder trees of several shapes, each read back by our
// checker and by every independent reader.
#include <gtest/gtest.h>

#include "pst/messaging/default_folder.h"
#include "pst/pst_test_support.h"

namespace mailvane::pst {
namespace {

using testing::Clean;
using testing::ExpectedFolders;
using testing::ScratchDir;

ExpectedFolders StandardFolders() {
  ExpectedFolders f;
  for (const auto& info : messaging::DefaultFolders()) f[std::string(info.name)] = std::string(info.container_class);
  return f;
}

TEST(PstStore, NewStoreHoldsTheStandardFoldersMarkedAsDefaults) {
  ScratchDir dir;
  const auto path = dir / "new.pst";
  {
    auto store = messaging::PstStore::Create(path, "Mailbox (Zimbra) : Created - 5.12.26 9.7.03");
    std::vector<std::string> names;
    for (const messaging::Folder& f : store->IpmSubtree().SubFolders()) names.push_back(f.name());
    EXPECT_EQ(names, (std::vector<std::string>{"Deleted Items", "Inbox", "Outbox", "Sent Items", "Drafts", "Calendar",
                                               "Contacts", "Journal", "Notes", "Tasks", "Junk E-mail"}));
    store->Close();
  }
  ASSERT_TRUE(Clean(path));
  // Reopened, every default folder is found again the way Outlook finds it.
  auto store = messaging::PstStore::Open(path, false);
  EXPECT_EQ(store->display_name(), "Mailbox (Zimbra) : Created - 5.12.26 9.7.03");
  for (const auto& info : messaging::DefaultFolders()) {
    const messaging::Folder f = store->GetDefaultFolder(info.kind);
    EXPECT_EQ(f.name(), info.name);
    EXPECT_EQ(f.container_class(), info.container_class) << info.name;
  }
  EXPECT_EQ(store->IpmSubtree().name(), "Top of Personal Folders");
  EXPECT_EQ(store->SearchRoot().name(), "Search Root");
  EXPECT_EQ(store->RootFolder().SubFolders().size(), 3u);
  testing::ExpectReadersSee(path, StandardFolders(), dir.path());
}

TEST(PstStore, FoldersByNameAndPathAndCommitsThatLast) {
  ScratchDir dir;
  const auto path = dir / "names.pst";
  {
    auto store = messaging::PstStore::Create(path, "names");
    messaging::Folder top = store->IpmSubtree();
    messaging::Folder work = top.AddFolder("Work");
    messaging::Folder inbox = store->GetDefaultFolder(messaging::DefaultFolder::kInbox);
    inbox.AddFolder("Work");  // the same name under another parent is fine
    work.AddFolder("Old").AddFolder("Older");
    EXPECT_EQ(work.container_class(), "IPF.Note");
    EXPECT_EQ(store->FindFolder("Work\\Old\\Older")->name(), "Older");
    EXPECT_EQ(store->FindFolder("\\Inbox\\Work\\")->nid(), inbox.SubFolders().at(0).nid());
    EXPECT_EQ(store->FindFolder("")->nid(), top.nid());
    EXPECT_FALSE(store->FindFolder("Work\\Missing"));
    EXPECT_EQ(store->FindFolder("work\\old")->name(), "Old");  // MAPI matches names ignoring case
    for (const char* taken : {"Work", "WORK", "Inbox", ""}) {
      EXPECT_THROW(top.AddFolder(taken), messaging::FolderError) << taken;
    }
    try {
      top.AddFolder("Work");
    } catch (const messaging::FolderError& e) {
      EXPECT_NE(std::string(e.what()).find("\"Work\""), std::string::npos) << e.what();
    }
    store->Commit();
    EXPECT_TRUE(Clean(path));
    store->IpmSubtree().AddFolder("Lost");  // never committed: the destructor does not commit
  }
  {
    auto store = messaging::PstStore::Open(path);
    EXPECT_FALSE(store->FindFolder("Lost"));
    // A leaf gains a child: its Subfolders flag and its parent's row change with it.
    messaging::Folder old = *store->FindFolder("Work\\Old\\Older");
    EXPECT_FALSE(old.has_sub_folders());
    old.AddFolder("Oldest");
    store->Close();
  }
  EXPECT_TRUE(Clean(path));
  auto store = messaging::PstStore::Open(path, false);
  EXPECT_TRUE(store->FindFolder("Work\\Old\\Older")->has_sub_folders());
  EXPECT_TRUE(store->FindFolder("Work\\Old\\Older\\Oldest"));
  EXPECT_THROW(store->IpmSubtree().AddFolder("x"), messaging::FolderError);  // read-only
}

// Folder trees of several shapes: chains of up to max_depth, names in many scripts.
const char* const kNames[] = {"Archive", "Réunions été", "Ελληνικά", "日本語フォルダ", "中文邮件", "Emoji 📁🚀",
                              "Ünïcödé ñ", "Кириллица", "한국어", "Spaces and . dots", "Mixed Ωmega 漢字 ✉"};

struct TreeCase {
  const char* label;
  int folders;
  int max_depth;
};

// Another program may leave a contents table's rows in any order of their ids: a row saved
// again is found in its place, and a new one goes after the others.
TEST(PstStore, AContentsTableInAnyRowOrderTakesNewRowsAndReplacedOnes) {
  ScratchDir dir;
  const auto path = dir / "order.pst";
  ndb::Nid folder_nid = 0;
  {
    auto store = messaging::PstStore::Create(path, "order");
    messaging::Folder folder = store->IpmSubtree().AddFolder("Mixed");
    folder_nid = folder.nid();
    for (int i = 0; i < 80; ++i) {  // more rows than one heap allocation holds
      messaging::Message m(folder);
      testing::SetMail(m.content(), "Message " + std::to_string(i), "Body");
      m.Save();
    }
    store->Close();
  }
  const ndb::Nid table_nid = ndb::WithType(folder_nid, ndb::NidType::kContentsTable);
  const auto subjects = [](std::span<const messaging::TableRow> rows) {
    std::vector<std::string> out;
    for (const auto& row : rows) out.push_back(messaging::FindValue(row.cells, messaging::kPrSubject)->AsString());
    return out;
  };
  std::vector<messaging::TableRow> rows;
  {
    auto store = messaging::PstStore::Open(path);
    messaging::TableData table = messaging::ReadTable(store->db(), *store->db().FindNode(table_nid));
    rows = table.rows;
    for (std::size_t i = 0; i + 1 < rows.size(); i += 2) std::swap(rows[i], rows[i + 1]);
    const messaging::NodeContent c = messaging::WriteTable(store->db(), table.columns, rows);
    store->db().PutNode(ndb::NodeEntry{table_nid, c.data, c.subnodes, 0});
    store->Close();
  }
  std::vector<std::string> expected = subjects(rows);
  {
    auto store = messaging::PstStore::Open(path);
    store->PutContentsRow(folder_nid, rows[41].row_id, rows[41].cells);  // found, not added
    messaging::Message m(*store->FindFolder("Mixed"));
    testing::SetMail(m.content(), "New", "Body");
    m.Save();
    store->Close();
  }
  expected.push_back("New");
  ASSERT_TRUE(Clean(path));
  auto store = messaging::PstStore::Open(path, false);
  EXPECT_EQ(subjects(messaging::ReadTable(store->db(), *store->db().FindNode(table_nid)).rows), expected);
  EXPECT_EQ(store->FindFolder("Mixed")->content_count(), 81);
}

// A folder's contents table leaves memory at a commit it gained nothing in. When the folder
// gains rows again, and has one saved again, its table is read back and carries on: every
// row stays, in order, and each reader sees them all.
TEST(PstStore, AContentsTableDroppedFromMemoryIsReadBackWhenItsFolderGainsRowsAgain) {
  ScratchDir dir;
  const auto path = dir / "again.pst";
  std::vector<std::string> expected;
  std::vector<std::pair<ndb::Nid, messaging::MessageContent>> saved;
  ndb::Nid first_nid = 0;
  {
    auto store = messaging::PstStore::Create(path, "again");
    messaging::Folder first = store->IpmSubtree().AddFolder("First");
    messaging::Folder second = store->IpmSubtree().AddFolder("Second");
    first_nid = first.nid();
    const auto save = [&](messaging::Folder& folder, const std::string& subject) {
      messaging::Message m(folder);
      testing::SetMail(m.content(), subject, "Body of " + subject);
      m.Save();
      saved.emplace_back(m.nid(), std::move(m.content()));
      if (folder.nid() == first_nid) expected.push_back(subject);
    };
    for (int i = 0; i < 300; ++i) save(first, "First " + std::to_string(i));  // past a block's rows
    store->Commit();
    save(second, "Second 0");
    store->Commit();  // "First" gained nothing: its table is dropped
    EXPECT_EQ(store->ContentsTablesHeld(), 1u);
    for (int i = 300; i < 305; ++i) save(first, "First " + std::to_string(i));
    const auto rows = messaging::ReadTable(store->db(), *store->db().FindNode(
                                                            ndb::WithType(first_nid, ndb::NidType::kContentsTable)))
                          .rows;
    store->PutContentsRow(first_nid, rows[7].row_id, rows[7].cells);  // saved again: replaced in place
    store->Commit();
    save(second, "Second 1");
    store->Close();
  }
  ASSERT_TRUE(Clean(path));
  auto store = messaging::PstStore::Open(path, false);
  std::vector<std::string> subjects;
  for (const auto& row :
       messaging::ReadTable(store->db(), *store->db().FindNode(ndb::WithType(first_nid, ndb::NidType::kContentsTable))).rows) {
    subjects.push_back(messaging::FindValue(row.cells, messaging::kPrSubject)->AsString());
  }
  EXPECT_EQ(subjects, expected);
  EXPECT_EQ(store->FindFolder("First")->content_count(), 305);
  testing::ExpectEveryReaderAgrees(path, saved, dir.path());
  if (testsupport::HaveProgram("readpst")) {
    const auto r = testsupport::ReadWithReadpst(path, dir / "readpst");
    EXPECT_TRUE(r.ok) << r.run.out << r.run.err;
    int done = -1;
    for (const auto& s : r.summaries) done = s.folder == "First" ? s.done : done;
    EXPECT_EQ(done, 305);
  }
}

class FolderTrees : public ::testing::TestWithParam<TreeCase> {};

TEST_P(FolderTrees, CheckerAndReadersSeeExactlyTheFoldersWritten) {
  const TreeCase c = GetParam();
  ScratchDir dir;
  const auto path = dir / "tree.pst";
  ExpectedFolders expected = StandardFolders();
  {
    auto store = messaging::PstStore::Create(path, "Tree");
    int made = 0;
    for (int chain = 0; made < c.folders; ++chain) {
      messaging::Folder parent = store->IpmSubtree();
      std::string folder_path;
      for (int depth = 1; depth <= c.max_depth && made < c.folders; ++depth, ++made) {
        const std::string name = std::string(kNames[(chain + depth) % std::size(kNames)]) + " " +
                                 std::to_string(chain) + "." + std::to_string(depth);
        parent = parent.AddFolder(name);
        folder_path += (folder_path.empty() ? "" : "\\") + name;
        expected[folder_path] = "IPF.Note";
      }
    }
    store->Close();
  }
  ASSERT_TRUE(Clean(path));
  auto store = messaging::PstStore::Open(path, false);
  for (const auto& [p, cls] : expected) {
    const auto f = store->FindFolder(p);
    ASSERT_TRUE(f) << p;
    EXPECT_EQ(f->container_class(), cls) << p;
  }
  testing::ExpectReadersSee(path, expected, dir.path());
}

INSTANTIATE_TEST_SUITE_P(Shapes, FolderTrees,
                         ::testing::Values(TreeCase{"one", 1, 1}, TreeCase{"fifty_nested", 50, 5},
                                           TreeCase{"two_thousand", 2000, 30}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace mailvane::pst
