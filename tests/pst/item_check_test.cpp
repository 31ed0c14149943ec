// The checker's item checks: each kind of inconsistency between a folder's rows, a
// message's tables and its objects, or the name-to-ID map, is named.
#include <gtest/gtest.h>

#include "pst/message_test_support.h"
#include "pst/messaging/ltp_access.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/table_templates.h"
#include "pst/messaging_test_support.h"

namespace mailvane::pst {
namespace {

using testing::ScratchDir;

std::string Findings(const std::filesystem::path& pst) { return check::FormatFindings(check::CheckPstFile(pst)); }

TEST(ItemCheck, MismatchedRowsTablesAndNamesAreNamed) {
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
    const messaging::NodeContent attachment = messaging::WriteProperties(db, std::vector<ltp::TaggedValue>{{messaging::kPrAttachMethod, ltp::PropValue::Int32(1)}});
    const messaging::NodeContent empty_table = messaging::WriteTable(db, messaging::AttachmentColumns(), {});
    const messaging::NodeContent recipients = messaging::WriteTable(db, messaging::RecipientColumns(), {});
    std::vector<ndb::SubnodeEntry> subs{{messaging::kNidAttachmentTable, empty_table.data, 0},
                                   {messaging::kNidRecipientTable, recipients.data, 0},
                                   {messaging::AttachmentSubnodeNid(0), attachment.data, 0}};
    const ndb::Bid tree = db.WriteSubnodeTree(subs);
    db.PutNode(ndb::NodeEntry{stray, pc.data, tree, inbox.nid()});
    store->PutContentsRow(inbox.nid(), stray, {{messaging::kPrMessageClass, ltp::PropValue::String("IPM.Note")}});
    store->Close();
  }
  const std::string f = Findings(path);
  EXPECT_NE(f.find("does not match the message's 0x37001F"), std::string::npos) << f;
  EXPECT_NE(f.find("0x9000, which the name-to-ID map does not define"), std::string::npos) << f;
  EXPECT_NE(f.find("is missing from its attachment table"), std::string::npos) << f;
  EXPECT_NE(f.find("MSGFLAG_HASATTACH is set but it has 0 attachments"), std::string::npos) << f;
}

}  // namespace
}  // namespace mailvane::pst
