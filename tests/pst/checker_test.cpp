// The checker: Outlook's own files pass every layer's checks (notes allowed), copies of our
// stores damaged at the folder and item level have each damage named, and the
// mailvane-pstcheck program answers with its exit codes.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "pst/check/ltp_check.h"
#include "pst/messaging/default_folder.h"
#include "pst/messaging/ltp_access.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/table_templates.h"
#include "pst/pst_test_support.h"

namespace mailvane::pst {
namespace {

using testing::ScratchDir;

TEST(PstChecker, OutlookReferenceFilesPassAndAnsiIsRefused) {
  const auto dir = testing::ReferenceDir();
  if (!dir) GTEST_SKIP() << "the reference files are not there";
  for (const char* name : {"test_unicode.pst", "sample1.pst", "submessage.pst"}) {
    const auto ndb = check::CheckNodeDatabase(*dir / name);
    EXPECT_FALSE(check::HasErrors(ndb)) << name << "\n" << testing::Describe(ndb);
    auto db = ndb::NodeDatabase::Open(*dir / name, false);
    const auto ltp = check::CheckLtp(*db);
    EXPECT_TRUE(ltp.empty()) << name << "\n" << testing::Describe(ltp);
    const check::CheckResult r = check::CheckPstFile(*dir / name, {.folder_tree = true});
    ASSERT_TRUE(r.readable) << name;
    for (const check::Finding& f : r.findings) {
      EXPECT_FALSE(f.severity == check::Severity::kError && f.area == "messaging") << name << ": " << f.message;
    }
    EXPECT_FALSE(r.tree.empty()) << name;
  }
  const std::string tree =
      check::FormatFolderTree(check::CheckPstFile(*dir / "test_unicode.pst", {.folder_tree = true}).tree);
  EXPECT_NE(tree.find("\n  Top of Personal Folders  items 1  associated 0\n"), std::string::npos) << tree;
  EXPECT_NE(tree.find("\n    Folder  [IPF.Note]  items 1  associated 0\n"), std::string::npos) << tree;
  EXPECT_NE(tree.find("SPAM Search Folder 2  (search folder)"), std::string::npos) << tree;
  // The ANSI file is refused with a message that says why, never half-read.
  const check::CheckResult ansi = check::CheckPstFile(*dir / "sample2.pst");
  EXPECT_FALSE(ansi.clean());
  EXPECT_NE(check::FormatFindings(ansi).find("ANSI (Outlook 97-2002)"), std::string::npos) << check::FormatFindings(ansi);
}

void RewriteProps(ndb::NodeDatabase& db, ndb::Nid nid, ltp::PropTag tag, ltp::PropValue value) {
  const ndb::NodeEntry e = *db.FindNode(nid);
  auto props = messaging::ReadProperties(db, e);
  messaging::SetValue(props, tag, std::move(value));
  const messaging::NodeContent c = messaging::WriteProperties(db, props);
  db.PutNode(ndb::NodeEntry{nid, c.data, c.subnodes, e.parent});
}

void Reparent(ndb::NodeDatabase& db, ndb::Nid nid, ndb::Nid parent) {
  ndb::NodeEntry e = *db.FindNode(nid);
  e.parent = parent;
  db.PutNode(e);
}

// A committed store with a small tree, damaged through the node database the way a faulty
// writer would: each damage is named among the checker's errors.
TEST(PstChecker, DamagedFoldersAreNamed) {
  ScratchDir dir;
  const auto sound = dir / "sound.pst";
  ndb::Nid alpha = 0;
  ndb::Nid inbox = 0;
  {
    auto store = messaging::PstStore::Create(sound, "Damaged");
    messaging::Folder a = store->IpmSubtree().AddFolder("Alpha");
    a.AddFolder("Beta");
    alpha = a.nid();
    inbox = store->GetDefaultFolder(messaging::DefaultFolder::kInbox).nid();
    store->Close();
  }
  ASSERT_TRUE(testing::Clean(sound));
  using Db = ndb::NodeDatabase;
  const struct {
    const char* what;
    std::function<void(Db&)> damage;
    std::vector<std::string> named;
  } kCases[] = {
      {"wrong parent", [&](Db& db) { Reparent(db, alpha, inbox); }, {"\"Alpha\"", "not a sub-folder"}},
      {"root's parent", [](Db& db) { Reparent(db, ndb::kNidRootFolder, 0); }, {"root folder's parent"}},
      {"hierarchy row missing",
       [&](Db& db) {
         const ndb::Nid parent = db.FindNode(alpha)->parent;
         const ndb::NodeEntry h = *db.FindNode(ndb::WithType(parent, ndb::NidType::kHierarchyTable));
         messaging::TableData t = messaging::ReadTable(db, h);
         std::erase_if(t.rows, [&](const messaging::TableRow& r) { return r.row_id == alpha; });
         const messaging::NodeContent c = messaging::WriteTable(db, messaging::HierarchyColumns(), t.rows);
         db.PutNode(ndb::NodeEntry{h.nid, c.data, c.subnodes, 0});
       },
       {"\"Alpha\"", "missing from the hierarchy table"}},
      {"hierarchy row differs", [&](Db& db) { RewriteProps(db, alpha, messaging::kPrDisplayName, ltp::PropValue::String("Renamed")); },
       {"does not match"}},
      {"counts",
       [&](Db& db) {
         RewriteProps(db, inbox, messaging::kPrContentCount, ltp::PropValue::Int32(5));
         RewriteProps(db, alpha, messaging::kPrSubfolders, ltp::PropValue::Boolean(false));
       },
       {"PidTagContentCount is 5", "PidTagSubfolders is false"}},
      {"rows and messages",
       [&](Db& db) {  // a message its folder's table does not list, a row for a message not there
         const messaging::NodeContent pc = messaging::WriteProperties(
             db, std::vector<ltp::TaggedValue>{{messaging::kPrMessageClass, ltp::PropValue::String("IPM.Note")}});
         db.PutNode(ndb::NodeEntry{db.AllocateNid(ndb::NidType::kNormalMessage), pc.data, pc.subnodes, alpha});
         const messaging::NodeContent c = messaging::WriteTable(
             db, messaging::ContentsColumns(), std::vector<messaging::TableRow>{{0x200024 + 0x20 * 7, {}}});
         db.PutNode(ndb::NodeEntry{ndb::WithType(inbox, ndb::NidType::kContentsTable), c.data, c.subnodes, 0});
       },
       {"has no row in its contents table", "which is not a message in it"}},
      {"mandatory nodes", [&](Db& db) { db.DeleteNode(0x692), db.DeleteNode(ndb::WithType(inbox, ndb::NidType::kAssocContentsTable)); },
       {"0x692 (recipient table template) is missing", "has no associated contents table"}},
  };
  int n = 0;
  for (const auto& c : kCases) {
    const auto path = dir / ("damaged" + std::to_string(++n) + ".pst");
    std::filesystem::copy_file(sound, path);
    {
      auto db = ndb::NodeDatabase::Open(path, true);
      c.damage(*db);
      db->Close();
    }
    std::string errors;
    for (const auto& f : check::CheckPstFile(path).findings) {
      if (f.severity == check::Severity::kError) errors += f.message + "\n";
    }
    for (const std::string& text : c.named) {
      EXPECT_NE(errors.find(text), std::string::npos) << c.what << ":\n" << errors;
    }
  }
}

// Each kind of inconsistency between a folder's rows, a message's tables and its objects,
// or the name-to-ID map, is named.
TEST(PstChecker, MismatchedRowsTablesAndNamesAreNamed) {
  ScratchDir dir;
  const auto path = dir / "damaged.pst";
  {
    auto store = messaging::PstStore::Create(path, "damaged");
    messaging::Folder inbox = store->GetDefaultFolder(messaging::DefaultFolder::kInbox);
    messaging::Message m(inbox);
    testing::SetMail(m.content(), "Real subject", "body");
    m.content().attachments.push_back(testing::FileAttachment("a.txt", {'a'}));
    m.Save();
    // A contents row that disagrees with its message.
    store->PutContentsRow(inbox.nid(), m.nid(), {{messaging::kPrSubject, ltp::PropValue::String("Other subject")},
                                                 {messaging::kPrMessageFlags, ltp::PropValue::Int32(messaging::kMsgFlagRead)}});
    // A message whose property ids reach past the name-to-ID map, with an attachment
    // subnode its attachment table does not list and a stale attachment flag.
    ndb::NodeDatabase& db = store->db();
    const ndb::Nid stray = db.AllocateNid(ndb::NidType::kNormalMessage);
    const std::vector<ltp::TaggedValue> props{{messaging::kPrMessageClass, ltp::PropValue::String("IPM.Note")},
                                              {messaging::kPrMessageFlags, ltp::PropValue::Int32(messaging::kMsgFlagHasAttach)},
                                              {messaging::kPrMessageSize, ltp::PropValue::Int32(1)},
                                              {ltp::MakeTag(0x9000, ltp::PropType::kInt32), ltp::PropValue::Int32(1)}};
    const messaging::NodeContent pc = messaging::WriteProperties(db, props);
    const messaging::NodeContent attachment =
        messaging::WriteProperties(db, std::vector<ltp::TaggedValue>{{messaging::kPrAttachMethod, ltp::PropValue::Int32(1)}});
    const messaging::NodeContent empty_table = messaging::WriteTable(db, messaging::AttachmentColumns(), {});
    const messaging::NodeContent recipients = messaging::WriteTable(db, messaging::RecipientColumns(), {});
    const std::vector<ndb::SubnodeEntry> subs{{messaging::kNidAttachmentTable, empty_table.data, 0},
                                              {messaging::kNidRecipientTable, recipients.data, 0},
                                              {messaging::AttachmentSubnodeNid(0), attachment.data, 0}};
    db.PutNode(ndb::NodeEntry{stray, pc.data, db.WriteSubnodeTree(subs), inbox.nid()});
    store->PutContentsRow(inbox.nid(), stray, {{messaging::kPrMessageClass, ltp::PropValue::String("IPM.Note")}});
    store->Close();
  }
  const std::string f = check::FormatFindings(check::CheckPstFile(path));
  EXPECT_NE(f.find("does not match the message's 0x37001F"), std::string::npos) << f;
  EXPECT_NE(f.find("0x9000, which the name-to-ID map does not define"), std::string::npos) << f;
  EXPECT_NE(f.find("is missing from its attachment table"), std::string::npos) << f;
  EXPECT_NE(f.find("MSGFLAG_HASATTACH is set but it has 0 attachments"), std::string::npos) << f;
}

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
  std::string bytes = testsupport::ReadFile(good);
  bytes[0x4800 + 100] ^= 0x5A;
  testsupport::WriteFile(bad, bytes);
  const auto damaged = RunCommand({tool.string(), bad.string()});
  EXPECT_EQ(damaged.exit_code, 1) << damaged.out << damaged.err;
  EXPECT_NE(damaged.out.find("error: "), std::string::npos) << damaged.out;
  // Not a PST at all, no file, and usage.
  testsupport::WriteFile(dir / "junk.pst", "not a pst");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {(dir / "junk.pst").string()}, {(dir / "none.pst").string()}, {}, {"--bogus", good.string()}}) {
    std::vector<std::string> argv{tool.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_EQ(RunCommand(argv).exit_code, 2) << (args.empty() ? "" : args[0]);
  }
  const auto help = RunCommand({tool.string(), "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("Usage: mailvane-pstcheck"), std::string::npos);
}

}  // namespace
}  // namespace mailvane::pst
