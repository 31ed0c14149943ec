// The checker against Outlook's own files (they must pass; notes allowed) and against
// copies of our files damaged at the messaging layer (each damage must be named).
#include <gtest/gtest.h>

#include <fstream>

#include "pst/check/pst_checker.h"
#include "pst/messaging/default_folder.h"
#include "pst/messaging/ltp_access.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/pst_store.h"
#include "pst/messaging/table_templates.h"
#include "pst/messaging_test_support.h"

namespace mailvane::pst {
namespace {

using testing::ScratchDir;

TEST(PstChecker, OutlookReferenceFilesPass) {
  const auto dir = testing::ReferenceDir();
  if (!dir) GTEST_SKIP() << "../shared/reference is not here";
  for (const char* name : {"test_unicode.pst", "sample1.pst", "submessage.pst"}) {
    const check::CheckResult r = check::CheckPstFile(*dir / name, {.folder_tree = true});
    ASSERT_TRUE(r.readable) << name;
    for (const check::Finding& f : r.findings) {
      EXPECT_FALSE(f.severity == check::Severity::kError && f.area == "messaging") << name << ": " << f.message;
    }
    EXPECT_FALSE(r.tree.empty()) << name;
  }
  // The ANSI file is refused with a message that says why, never half-read.
  const check::CheckResult ansi = check::CheckPstFile(*dir / "sample2.pst");
  EXPECT_FALSE(ansi.clean());
  EXPECT_NE(check::FormatFindings(ansi).find("ANSI"), std::string::npos) << check::FormatFindings(ansi);
}

TEST(PstChecker, FolderTreeOfAReferenceFile) {
  const auto dir = testing::ReferenceDir();
  if (!dir) GTEST_SKIP() << "../shared/reference is not here";
  const check::CheckResult r = check::CheckPstFile(*dir / "test_unicode.pst", {.folder_tree = true});
  const std::string tree = check::FormatFolderTree(r.tree);
  EXPECT_NE(tree.find("\n  Top of Personal Folders  items 1  associated 0\n"), std::string::npos) << tree;
  EXPECT_NE(tree.find("\n    Folder  [IPF.Note]  items 1  associated 0\n"), std::string::npos) << tree;
  EXPECT_NE(tree.find("SPAM Search Folder 2  (search folder)"), std::string::npos) << tree;
}

// A committed store with a small tree, reopened writable so a test can damage it through
// the node database the way a faulty writer would.
class DamagedStore : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "damaged.pst";
    auto store = messaging::PstStore::Create(path_, "Damaged");
    messaging::Folder a = store->IpmSubtree().AddFolder("Alpha");
    a.AddFolder("Beta");
    alpha_ = a.nid();
    inbox_ = store->GetDefaultFolder(messaging::DefaultFolder::kInbox).nid();
    store->Close();
    ASSERT_TRUE(testing::CheckerClean(path_));
    db_ = ndb::NodeDatabase::Open(path_, true);
  }

  // Closes the database and returns the checker's findings as text (errors only).
  std::string Errors() {
    db_->Close();
    db_.reset();
    const check::CheckResult r = check::CheckPstFile(path_);
    std::string out;
    for (const auto& f : r.findings) {
      if (f.severity == check::Severity::kError) out += f.message + "\n";
    }
    return out;
  }

  void RewriteFolderProps(ndb::Nid nid, ltp::PropTag tag, ltp::PropValue value) {
    ndb::NodeEntry e = *db_->FindNode(nid);
    auto props = messaging::ReadProperties(*db_, e);
    messaging::SetValue(props, tag, std::move(value));
    const messaging::NodeContent c = messaging::WriteProperties(*db_, props);
    db_->PutNode(ndb::NodeEntry{nid, c.data, c.subnodes, e.parent});
  }

  ScratchDir dir_;
  std::filesystem::path path_;
  std::unique_ptr<ndb::NodeDatabase> db_;
  ndb::Nid alpha_ = 0;
  ndb::Nid inbox_ = 0;
};

TEST_F(DamagedStore, WrongParentIsNamed) {
  ndb::NodeEntry e = *db_->FindNode(alpha_);
  e.parent = inbox_;
  db_->PutNode(e);
  const std::string errors = Errors();
  EXPECT_NE(errors.find("\"Alpha\""), std::string::npos) << errors;
  EXPECT_NE(errors.find("not a sub-folder"), std::string::npos) << errors;
}

TEST_F(DamagedStore, RootFolderMustBeItsOwnParent) {
  ndb::NodeEntry e = *db_->FindNode(ndb::kNidRootFolder);
  e.parent = 0;
  db_->PutNode(e);
  EXPECT_NE(Errors().find("root folder's parent"), std::string::npos);
}

TEST_F(DamagedStore, HierarchyTableMissingARowIsNamed) {
  // The top of the tree loses its row for Alpha.
  const ndb::Nid parent = db_->FindNode(alpha_)->parent;
  ndb::NodeEntry h = *db_->FindNode(ndb::WithType(parent, ndb::NidType::kHierarchyTable));
  messaging::TableData t = messaging::ReadTable(*db_, h);
  std::erase_if(t.rows, [&](const messaging::TableRow& r) { return r.row_id == alpha_; });
  const messaging::NodeContent c = messaging::WriteTable(*db_, messaging::HierarchyColumns(), t.rows);
  db_->PutNode(ndb::NodeEntry{h.nid, c.data, c.subnodes, 0});
  const std::string errors = Errors();
  EXPECT_NE(errors.find("\"Alpha\""), std::string::npos) << errors;
  EXPECT_NE(errors.find("missing from the hierarchy table"), std::string::npos) << errors;
}

TEST_F(DamagedStore, HierarchyRowThatDisagreesWithTheFolderIsNamed) {
  RewriteFolderProps(alpha_, messaging::kPrDisplayName, ltp::PropValue::String("Renamed"));
  const std::string errors = Errors();
  EXPECT_NE(errors.find("does not match"), std::string::npos) << errors;
}

TEST_F(DamagedStore, CountsThatDisagreeWithTheContentsTableAreNamed) {
  RewriteFolderProps(inbox_, messaging::kPrContentCount, ltp::PropValue::Int32(5));
  RewriteFolderProps(alpha_, messaging::kPrSubfolders, ltp::PropValue::Boolean(false));
  const std::string errors = Errors();
  EXPECT_NE(errors.find("PidTagContentCount is 5"), std::string::npos) << errors;
  EXPECT_NE(errors.find("PidTagSubfolders is false"), std::string::npos) << errors;
}

TEST_F(DamagedStore, ContentsRowWithoutMessageAndMessageWithoutRow) {
  // A message node in Alpha that its contents table does not list, and a row in the
  // inbox's table for a message that is not there.
  const ndb::Nid stray = db_->AllocateNid(ndb::NidType::kNormalMessage);
  const std::vector<ltp::TaggedValue> props{{messaging::kPrMessageClass, ltp::PropValue::String("IPM.Note")}};
  const messaging::NodeContent pc = messaging::WriteProperties(*db_, props);
  db_->PutNode(ndb::NodeEntry{stray, pc.data, pc.subnodes, alpha_});
  const std::vector<messaging::TableRow> rows{messaging::TableRow{0x200024 + 0x20 * 7, {}}};
  const messaging::NodeContent c = messaging::WriteTable(*db_, messaging::ContentsColumns(), rows);
  db_->PutNode(ndb::NodeEntry{ndb::WithType(inbox_, ndb::NidType::kContentsTable), c.data, c.subnodes, 0});
  const std::string errors = Errors();
  EXPECT_NE(errors.find("has no row in its contents table"), std::string::npos) << errors;
  EXPECT_NE(errors.find("which is not a message in it"), std::string::npos) << errors;
}

TEST_F(DamagedStore, MissingMandatoryNodeAndDanglingStoreEntryId) {
  db_->DeleteNode(0x692);
  db_->DeleteNode(ndb::WithType(inbox_, ndb::NidType::kAssocContentsTable));
  const std::string errors = Errors();
  EXPECT_NE(errors.find("0x692 (recipient table template) is missing"), std::string::npos) << errors;
  EXPECT_NE(errors.find("has no associated contents table"), std::string::npos) << errors;
}

// --- the command-line tool ---

TEST(PstCheckTool, ExitCodesTreeAndHelp) {
  const auto tool = testsupport::BuiltProgram("mailvane-pstcheck");
  if (!std::filesystem::exists(tool)) GTEST_SKIP() << "mailvane-pstcheck is not built";
  using testsupport::RunCommand;
  ScratchDir dir;
  const auto good = dir / "good.pst";
  {
    auto store = messaging::PstStore::Create(good, "Tool");
    store->IpmSubtree().AddFolder("Ελληνικά");
    store->Close();
  }
  const auto ok = RunCommand({tool.string(), "--tree", good.string()});
  EXPECT_EQ(ok.exit_code, 0) << ok.out << ok.err;
  EXPECT_NE(ok.out.find("    Calendar  [IPF.Appointment]  items 0"), std::string::npos) << ok.out;
  EXPECT_NE(ok.out.find("    Ελληνικά  [IPF.Note]  items 0"), std::string::npos) << ok.out;

  // One flipped byte in the middle of the file: errors, exit 1.
  const auto bad = dir / "bad.pst";
  std::filesystem::copy_file(good, bad);
  {
    std::fstream f(bad, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(0x4800 + 100);
    const char c = static_cast<char>(f.get() ^ 0x5A);
    f.seekp(0x4800 + 100);
    f.put(c);
  }
  const auto damaged = RunCommand({tool.string(), bad.string()});
  EXPECT_EQ(damaged.exit_code, 1) << damaged.out << damaged.err;
  EXPECT_NE(damaged.out.find("error: "), std::string::npos) << damaged.out;

  // Not a PST at all, no file, and usage.
  const auto junk = dir / "junk.pst";
  std::ofstream(junk) << "not a pst";
  EXPECT_EQ(RunCommand({tool.string(), junk.string()}).exit_code, 2);
  EXPECT_EQ(RunCommand({tool.string(), (dir / "none.pst").string()}).exit_code, 2);
  EXPECT_EQ(RunCommand({tool.string()}).exit_code, 2);
  EXPECT_EQ(RunCommand({tool.string(), "--bogus", good.string()}).exit_code, 2);
  const auto help = RunCommand({tool.string(), "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("Usage: mailvane-pstcheck"), std::string::npos);
}

}  // namespace
}  // namespace mailvane::pst
