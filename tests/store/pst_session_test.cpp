#include "store/pst_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "pst/check/pst_checker.h"
#include "support/files.h"

namespace mailvane::store {
namespace {

namespace fs = std::filesystem;

class PstSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { session_->Logon(); }

  testsupport::ScratchDir dir_{"session"};
  std::unique_ptr<Session> session_ = CreatePstSession();
};

template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

TEST_F(PstSessionTest, RefusesWhatItCannotDoAndSaysWhy) {
  auto fresh = CreatePstSession();
  EXPECT_NE(ErrorOf([&] { fresh->AddPSTStore(dir_.path() / "a.pst", 1, "A"); }).find("not logged on"),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { session_->AddPSTStore(dir_.path() / "a.pst", 2, "A"); }).find("format 2"),
            std::string::npos);
  // A name taken (by a file, or a planted link) is never written over nor followed: the
  // store takes the next free name.
  std::ofstream(dir_.path() / "taken.pst") << "not ours";
  EXPECT_EQ(session_->AddPSTStore(dir_.path() / "taken.pst", 1, "A").FilePath(),
            dir_.path() / "taken (2).pst");
  EXPECT_EQ(fs::file_size(dir_.path() / "taken.pst"), 8u);
  fs::create_symlink(dir_.path() / "elsewhere.pst", dir_.path() / "link.pst");
  EXPECT_EQ(session_->AddPSTStore(dir_.path() / "link.pst", 1, "B").FilePath(),
            dir_.path() / "link (2).pst");
  EXPECT_FALSE(fs::exists(dir_.path() / "elsewhere.pst"));

  Store& store = session_->AddPSTStore(dir_.path() / "ok.pst", 1, "Mailbox");
  EXPECT_THROW(session_->GetStoreFromID("00"), StoreError);
  EXPECT_THROW(store.GetDefaultFolder(static_cast<DefaultFolder>(7)), StoreError);
  auto inbox = store.GetDefaultFolder(DefaultFolder::kInbox);
  EXPECT_NE(ErrorOf([&] { inbox->AddFolder("X", 1); }).find("folder type 1"), std::string::npos);
  EXPECT_THROW(inbox->AddItem(static_cast<ItemType>(4)), StoreError);
  EXPECT_THROW(session_->GetFolderFromPath("Mailbox\\Inbox"), StoreError);
  EXPECT_THROW(session_->GetFolderFromPath("\\\\Other\\Inbox"), StoreError);
  EXPECT_THROW(session_->GetFolderFromPath("\\\\Mailbox\\Nowhere"), StoreError);
  auto item = inbox->AddItem(ItemType::kMessage);
  EXPECT_THROW(item->Import(dir_.path() / "missing.eml", kImportRfc822), std::exception);
  EXPECT_THROW(item->Import(dir_.path() / "taken.pst", 1), StoreError);
  EXPECT_THROW(item->SetOneProp(0x0E070003, pst::ltp::PropValue::String("x"), false), StoreError);
  session_->Logoff();
}

TEST_F(PstSessionTest, StoresFoldersAndPathsAsTheRunUsesThem) {
  Store& store = session_->AddPSTStore(dir_.path() / "m.pst", 1, "Zimbra 2026");
  const std::string id = store.EntryID();
  EXPECT_EQ(id.size(), 32u);
  EXPECT_EQ(&session_->GetStoreFromID(id), &store);
  store.ValidateIPMTree();

  const std::pair<DefaultFolder, const char*> kinds[] = {
      {DefaultFolder::kDeletedItems, "Deleted Items"}, {DefaultFolder::kOutbox, "Outbox"},
      {DefaultFolder::kSentMail, "Sent Items"},       {DefaultFolder::kInbox, "Inbox"},
      {DefaultFolder::kCalendar, "Calendar"},         {DefaultFolder::kContacts, "Contacts"},
      {DefaultFolder::kJournal, "Journal"},           {DefaultFolder::kNotes, "Notes"},
      {DefaultFolder::kTasks, "Tasks"},               {DefaultFolder::kDrafts, "Drafts"},
      {DefaultFolder::kJunk, "Junk E-mail"}};
  for (const auto& [kind, name] : kinds) EXPECT_EQ(store.GetDefaultFolder(kind)->Name(), name);

  auto top = store.IPMRootFolder();
  auto export_folder = top->AddFolder("Export", kFolderTypeMail);
  auto work = export_folder->AddFolder("Wörk 2013", kFolderTypeMail);
  EXPECT_THROW(export_folder->AddFolder("Wörk 2013", kFolderTypeMail), std::exception);
  EXPECT_EQ(session_->GetFolderFromPath("\\\\Zimbra 2026\\Export\\Wörk 2013")->Name(),
            "Wörk 2013");
  ASSERT_NE(export_folder->SubFolder("Wörk 2013"), nullptr);
  EXPECT_EQ(export_folder->SubFolder("Nope"), nullptr);
  bool found = false;
  for (const auto& f : top->Folders()) found = found || f->Name() == "Export";
  EXPECT_TRUE(found);
  session_->Logoff();

  const auto check = pst::check::CheckPstFile(dir_.path() / "m.pst", {.folder_tree = true});
  EXPECT_TRUE(check.clean()) << pst::check::FormatFindings(check);
}

}  // namespace
}  // namespace mailvane::store
