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
    EXPECT_EQ(names, (std::vector<std::string>{"Deleted Items", "Inbox", "Outbox", "Sent Items",
                                               "Drafts", "Calendar", "Contacts", "Journal", "Notes",
                                               "Tasks", "Junk E-mail"}));
    store->Close();
  }
  ASSERT_TRUE(CheckerClean(path));

  // Reopened, every default folder is found again the way Outlook finds it.
  auto store = messaging::PstStore::Open(path, false);
  EXPECT_EQ(store->display_name(), "Mailbox (Zimbra) : Created - 5.12.26 9.7.03");
  for (const auto& info : messaging::DefaultFolders()) {
    const messaging::Folder f = store->GetDefaultFolder(info.kind);
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
  auto store = messaging::PstStore::Create(dir / "names.pst", "names");
  messaging::Folder top = store->IpmSubtree();
  messaging::Folder work = top.AddFolder("Work");
  messaging::Folder inbox = store->GetDefaultFolder(messaging::DefaultFolder::kInbox);
  inbox.AddFolder("Work");  // the same name under another parent is fine
  work.AddFolder("Old").AddFolder("Older");

  EXPECT_EQ(work.container_class(), "IPF.Note");
  ASSERT_TRUE(store->FindFolder("Work\\Old\\Older"));
  EXPECT_EQ(store->FindFolder("Work\\Old\\Older")->name(), "Older");
  EXPECT_EQ(store->FindFolder("\\Inbox\\Work\\")->nid(), inbox.SubFolders().at(0).nid());
  EXPECT_EQ(store->FindFolder("")->nid(), top.nid());
  EXPECT_FALSE(store->FindFolder("Work\\Missing"));
  EXPECT_EQ(store->FindFolder("work\\old")->name(), "Old");  // MAPI matches names ignoring case

  EXPECT_THROW(top.AddFolder("Work"), messaging::FolderError);
  EXPECT_THROW(top.AddFolder("WORK"), messaging::FolderError);
  EXPECT_THROW(top.AddFolder("Inbox"), messaging::FolderError);
  EXPECT_THROW(top.AddFolder(""), messaging::FolderError);
  try {
    top.AddFolder("Work");
  } catch (const messaging::FolderError& e) {
    EXPECT_NE(std::string(e.what()).find("\"Work\""), std::string::npos) << e.what();
  }
  store->Close();
  EXPECT_TRUE(CheckerClean(dir / "names.pst"));
}

TEST(PstStore, CommitsAreDurableAndReopenedStoresGrow) {
  ScratchDir dir;
  const auto path = dir / "grow.pst";
  {
    auto store = messaging::PstStore::Create(path, "grow");
    store->IpmSubtree().AddFolder("First");
    store->Commit();
    EXPECT_TRUE(CheckerClean(path));
    store->IpmSubtree().AddFolder("Lost");  // never committed: the destructor does not commit
  }
  {
    auto store = messaging::PstStore::Open(path);
    EXPECT_TRUE(store->FindFolder("First"));
    EXPECT_FALSE(store->FindFolder("Lost"));
    // A leaf gains a child: its Subfolders flag and its parent's row change with it.
    messaging::Folder first = *store->FindFolder("First");
    EXPECT_FALSE(first.has_sub_folders());
    first.AddFolder("Second");
    store->Close();
  }
  EXPECT_TRUE(CheckerClean(path));
  auto store = messaging::PstStore::Open(path, false);
  EXPECT_TRUE(store->FindFolder("First")->has_sub_folders());
  EXPECT_TRUE(store->FindFolder("First\\Second"));
  EXPECT_THROW(store->IpmSubtree().AddFolder("x"), messaging::FolderError);  // read-only
}

// A message node as the message layer will write it, to drive the contents-table hooks.
// Every message carries its size, and its contents row repeats it.
constexpr ltp::PropTag kFakeMessageSize = ltp::MakeTag(0x0E08, ltp::PropType::kInt32);

ndb::Nid AddFakeMessage(messaging::PstStore& store, messaging::Folder folder, bool read) {
  const ndb::Nid nid = store.db().AllocateNid(ndb::NidType::kNormalMessage);
  const std::vector<ltp::TaggedValue> props{
      {messaging::kPrMessageClass, ltp::PropValue::String("IPM.Note")},
      {messaging::kPrMessageFlags, ltp::PropValue::Int32(read ? 1 : 0)},
      {kFakeMessageSize, ltp::PropValue::Int32(100)}};
  const messaging::NodeContent pc = messaging::WriteProperties(store.db(), props);
  store.db().PutNode(ndb::NodeEntry{nid, pc.data, pc.subnodes, folder.nid()});
  store.PutContentsRow(folder.nid(), nid, props);
  return nid;
}

TEST(PstStore, ContentsRowsKeepCountsInStep) {
  ScratchDir dir;
  const auto path = dir / "rows.pst";
  ndb::Nid unread_one = 0;
  {
    auto store = messaging::PstStore::Create(path, "rows");
    messaging::Folder inbox = store->GetDefaultFolder(messaging::DefaultFolder::kInbox);
    AddFakeMessage(*store, inbox, true);
    unread_one = AddFakeMessage(*store, inbox, false);
    AddFakeMessage(*store, inbox, false);
    EXPECT_EQ(inbox.content_count(), 3);
    EXPECT_EQ(inbox.unread_count(), 2);
    store->Close();
  }
  ASSERT_TRUE(CheckerClean(path));
  {
    auto store = messaging::PstStore::Open(path);
    messaging::Folder inbox = store->GetDefaultFolder(messaging::DefaultFolder::kInbox);
    EXPECT_EQ(inbox.content_count(), 3);
    // Marking one read replaces its row; removing one drops it.
    store->PutContentsRow(inbox.nid(), unread_one,
                          {{messaging::kPrMessageFlags, ltp::PropValue::Int32(1)},
                           {kFakeMessageSize, ltp::PropValue::Int32(100)}});
    EXPECT_EQ(inbox.unread_count(), 1);
    store->db().DeleteNode(unread_one);
    store->RemoveContentsRow(inbox.nid(), unread_one);
    EXPECT_EQ(inbox.content_count(), 2);
    EXPECT_THROW(store->RemoveContentsRow(inbox.nid(), unread_one), messaging::FolderError);
    store->Close();
  }
  EXPECT_TRUE(CheckerClean(path));
}

TEST(PstStore, PackedRowsGiveBackEveryCellAsGiven) {
  const std::vector<ltp::TaggedValue> cells = {
      {messaging::kPrMessageFlags, ltp::PropValue::Int32(17)},
      {messaging::kPrDisplayName, ltp::PropValue::String("Grüße \xF0\x9F\x9A\x80")},
      {0x10130102, ltp::PropValue::Binary({})},
      {0x0E060040, ltp::PropValue::Int64(-5)},
      {0x0E1B000B, ltp::PropValue::Boolean(true)},
      {0x66A00102, ltp::PropValue::Binary(std::vector<std::uint8_t>(70000, 0xAB))}};
  const messaging::PackedRow row(42, cells);
  EXPECT_EQ(row.row_id(), 42u);
  EXPECT_EQ(row.Unpack(), cells);
  std::vector<ltp::TaggedValue> reused = {{1, ltp::PropValue::Int32(1)}};
  row.UnpackInto(reused);
  EXPECT_EQ(reused, cells);
  EXPECT_TRUE(messaging::PackedRow(7, {}).Unpack().empty());
}

}  // namespace
}  // namespace mailvane::pst
