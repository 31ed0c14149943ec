#include <gtest/gtest.h>

#include "pst/messaging/default_folder.h"
#include "pst/messaging/ltp_access.h"
#include "pst/messaging/packed_row.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/pst_store.h"
#include "pst/messaging_test_support.h"

namespace mailvane::pst {
namespace {

using testing::CheckerClean;
using testing::ExpectedFolders;
using testing::ScratchDir;

ExpectedFolders StandardFolders() {
  ExpectedFolders f;
  for (const auto& info : DefaultFolders()) f[std::string(info.name)] = std::string(info.container_class);
  return f;
}

TEST(PstStore, NewStoreHoldsTheStandardFoldersMarkedAsDefaults) {
  ScratchDir dir;
  const auto path = dir / "new.pst";
  {
    auto store = PstStore::Create(path, "Mailbox (Zimbra) : Created - 5.12.26 9.7.03");
    std::vector<std::string> names;
    for (const Folder& f : store->IpmSubtree().SubFolders()) names.push_back(f.name());
    EXPECT_EQ(names, (std::vector<std::string>{"Deleted Items", "Inbox", "Outbox", "Sent Items",
                                               "Drafts", "Calendar", "Contacts", "Journal", "Notes",
                                               "Tasks", "Junk E-mail"}));
    store->Close();
  }
  ASSERT_TRUE(CheckerClean(path));

  // Reopened, every default folder is found again the way Outlook finds it.
  auto store = PstStore::Open(path, false);
  EXPECT_EQ(store->display_name(), "Mailbox (Zimbra) : Created - 5.12.26 9.7.03");
  for (const auto& info : DefaultFolders()) {
    const Folder f = store->GetDefaultFolder(info.kind);
    EXPECT_EQ(f.name(), info.name);
    EXPECT_EQ(f.container_class(), info.container_class) << info.name;
    EXPECT_EQ(f.content_count(), 0);
  }
  EXPECT_EQ(store->IpmSubtree().name(), "Top of Personal Folders");
  EXPECT_EQ(store->SearchRoot().name(), "Search Root");
  ASSERT_EQ(store->RootFolder().SubFolders().size(), 3u);

  testing::ExpectReadersSee(path, StandardFolders(), dir.path());
}

TEST(PstStore, FoldersByNameAndPath) {
  ScratchDir dir;
  auto store = PstStore::Create(dir / "names.pst", "names");
  Folder top = store->IpmSubtree();
  Folder work = top.AddFolder("Work");
  Folder inbox = store->GetDefaultFolder(DefaultFolder::kInbox);
  inbox.AddFolder("Work");  // the same name under another parent is fine
  work.AddFolder("Old").AddFolder("Older");

  EXPECT_EQ(work.container_class(), "IPF.Note");
  ASSERT_TRUE(store->FindFolder("Work\\Old\\Older"));
  EXPECT_EQ(store->FindFolder("Work\\Old\\Older")->name(), "Older");
  EXPECT_EQ(store->FindFolder("\\Inbox\\Work\\")->nid(), inbox.SubFolders().at(0).nid());
  EXPECT_EQ(store->FindFolder("")->nid(), top.nid());
  EXPECT_FALSE(store->FindFolder("Work\\Missing"));
  EXPECT_EQ(store->FindFolder("work\\old")->name(), "Old");  // MAPI matches names ignoring case

  EXPECT_THROW(top.AddFolder("Work"), FolderError);
  EXPECT_THROW(top.AddFolder("WORK"), FolderError);
  EXPECT_THROW(top.AddFolder("Inbox"), FolderError);
  EXPECT_THROW(top.AddFolder(""), FolderError);
  try {
    top.AddFolder("Work");
  } catch (const FolderError& e) {
    EXPECT_NE(std::string(e.what()).find("\"Work\""), std::string::npos) << e.what();
  }
  store->Close();
  EXPECT_TRUE(CheckerClean(dir / "names.pst"));
}

TEST(PstStore, CommitsAreDurableAndReopenedStoresGrow) {
  ScratchDir dir;
  const auto path = dir / "grow.pst";
  {
    auto store = PstStore::Create(path, "grow");
    store->IpmSubtree().AddFolder("First");
    store->Commit();
    EXPECT_TRUE(CheckerClean(path));
    store->IpmSubtree().AddFolder("Lost");  // never committed: the destructor does not commit
  }
  {
    auto store = PstStore::Open(path);
    EXPECT_TRUE(store->FindFolder("First"));
    EXPECT_FALSE(store->FindFolder("Lost"));
    // A leaf gains a child: its Subfolders flag and its parent's row change with it.
    Folder first = *store->FindFolder("First");
    EXPECT_FALSE(first.has_sub_folders());
    first.AddFolder("Second");
    store->Close();
  }
  EXPECT_TRUE(CheckerClean(path));
  auto store = PstStore::Open(path, false);
  EXPECT_TRUE(store->FindFolder("First")->has_sub_folders());
  EXPECT_TRUE(store->FindFolder("First\\Second"));
  EXPECT_THROW(store->IpmSubtree().AddFolder("x"), FolderError);  // read-only
}

// A message node as the message layer will write it, to drive the contents-table hooks.
// Every message carries its size, and its contents row repeats it.
constexpr PropTag kFakeMessageSize = MakeTag(0x0E08, PropType::kInt32);

Nid AddFakeMessage(PstStore& store, Folder folder, bool read) {
  const Nid nid = store.db().AllocateNid(NidType::kNormalMessage);
  const std::vector<TaggedValue> props{
      {tags::kMessageClass, PropValue::String("IPM.Note")},
      {tags::kMessageFlags, PropValue::Int32(read ? 1 : 0)},
      {kFakeMessageSize, PropValue::Int32(100)}};
  const NodeContent pc = WriteProperties(store.db(), props);
  store.db().PutNode(NodeEntry{nid, pc.data, pc.subnodes, folder.nid()});
  store.PutContentsRow(folder.nid(), nid, props);
  return nid;
}

TEST(PstStore, ContentsRowsKeepCountsInStep) {
  ScratchDir dir;
  const auto path = dir / "rows.pst";
  Nid unread_one = 0;
  {
    auto store = PstStore::Create(path, "rows");
    Folder inbox = store->GetDefaultFolder(DefaultFolder::kInbox);
    AddFakeMessage(*store, inbox, true);
    unread_one = AddFakeMessage(*store, inbox, false);
    AddFakeMessage(*store, inbox, false);
    EXPECT_EQ(inbox.content_count(), 3);
    EXPECT_EQ(inbox.unread_count(), 2);
    store->Close();
  }
  ASSERT_TRUE(CheckerClean(path));
  {
    auto store = PstStore::Open(path);
    Folder inbox = store->GetDefaultFolder(DefaultFolder::kInbox);
    EXPECT_EQ(inbox.content_count(), 3);
    // Marking one read replaces its row; removing one drops it.
    store->PutContentsRow(inbox.nid(), unread_one,
                          {{tags::kMessageFlags, PropValue::Int32(1)},
                           {kFakeMessageSize, PropValue::Int32(100)}});
    EXPECT_EQ(inbox.unread_count(), 1);
    store->db().DeleteNode(unread_one);
    store->RemoveContentsRow(inbox.nid(), unread_one);
    EXPECT_EQ(inbox.content_count(), 2);
    EXPECT_THROW(store->RemoveContentsRow(inbox.nid(), unread_one), FolderError);
    store->Close();
  }
  EXPECT_TRUE(CheckerClean(path));
}

TEST(PstStore, PackedRowsGiveBackEveryCellAsGiven) {
  const std::vector<TaggedValue> cells = {
      {tags::kMessageFlags, PropValue::Int32(17)},
      {tags::kDisplayName, PropValue::String("Grüße \xF0\x9F\x9A\x80")},
      {0x10130102, PropValue::Binary({})},
      {0x0E060040, PropValue::Int64(-5)},
      {0x0E1B000B, PropValue::Boolean(true)},
      {0x66A00102, PropValue::Binary(std::vector<std::uint8_t>(70000, 0xAB))}};
  const PackedRow row(42, cells);
  EXPECT_EQ(row.row_id(), 42u);
  EXPECT_EQ(row.Unpack(), cells);
  std::vector<TaggedValue> reused = {{1, PropValue::Int32(1)}};
  row.UnpackInto(reused);
  EXPECT_EQ(reused, cells);
  EXPECT_TRUE(PackedRow(7, {}).Unpack().empty());
}

}  // namespace
}  // namespace mailvane::pst
