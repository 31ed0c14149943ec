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

std::string Findings(const std::filesystem::path& pst) { return FormatFindings(CheckPstFile(pst)); }

TEST(ItemCheck, MismatchedRowsTablesAndNamesAreNamed) {
  ScratchDir dir;
  const auto path = dir / "damaged.pst";
  {
    auto store = PstStore::Create(path, "damaged");
    Folder inbox = store->GetDefaultFolder(DefaultFolder::kInbox);
    Message m(inbox);
    testing::SetMail(m.content(), "Real subject", "body");
    m.content().attachments.push_back(testing::FileAttachment("a.txt", {'a'}));
    m.Save();
    // A contents row that disagrees with its message.
    store->PutContentsRow(inbox.nid(), m.nid(), {{kPrSubject, PropValue::String("Other subject")},
                                                 {kPrMessageFlags, PropValue::Int32(kMsgFlagRead)}});
    // A message whose property ids reach past the name-to-ID map, with an attachment
    // subnode its attachment table does not list and a stale attachment flag.
    NodeDatabase& db = store->db();
    const Nid stray = db.AllocateNid(NidType::kNormalMessage);
    const std::vector<TaggedValue> props{{kPrMessageClass, PropValue::String("IPM.Note")},
                                         {kPrMessageFlags, PropValue::Int32(kMsgFlagHasAttach)},
                                         {kPrMessageSize, PropValue::Int32(1)},
                                         {MakeTag(0x9000, PropType::kInt32), PropValue::Int32(1)}};
    const NodeContent pc = WriteProperties(db, props);
    const NodeContent attachment = WriteProperties(db, std::vector<TaggedValue>{{kPrAttachMethod, PropValue::Int32(1)}});
    const NodeContent empty_table = WriteTable(db, templates::AttachmentColumns(), {});
    const NodeContent recipients = WriteTable(db, templates::RecipientColumns(), {});
    std::vector<SubnodeEntry> subs{{kNidAttachmentTable, empty_table.data, 0},
                                   {kNidRecipientTable, recipients.data, 0},
                                   {AttachmentSubnodeNid(0), attachment.data, 0}};
    const Bid tree = db.WriteSubnodeTree(subs);
    db.PutNode(NodeEntry{stray, pc.data, tree, inbox.nid()});
    store->PutContentsRow(inbox.nid(), stray, {{kPrMessageClass, PropValue::String("IPM.Note")}});
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
