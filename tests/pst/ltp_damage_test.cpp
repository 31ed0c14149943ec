// Damage to heaps, BTHs, property and table contexts: each kind is caught by the readers
// and named by the checker with the node it is in.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/check/ltp_check.h"
#include "pst/ltp/bth.h"
#include "pst/ltp/heap_on_node.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/ndb/node_database.h"
#include "pst/pst_test_support.h"

namespace mailvane::pst {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr ltp::PropTag kName = ltp::MakeTag(0x3001, ltp::PropType::kString);
constexpr ltp::PropTag kCount = ltp::MakeTag(0x3602, ltp::PropType::kInt32);
constexpr ndb::Nid kFolder = ndb::MakeNid(ndb::NidType::kNormalFolder, 0x400);
constexpr ndb::Nid kTable = ndb::MakeNid(ndb::NidType::kContentsTable, 0x400);

// A folder-like property context and a table, each with enough entries for an index level.
void WriteSample(ndb::NodeDatabase& db) {
  std::vector<ltp::TaggedValue> props;
  for (std::uint16_t id = 0x6000; id < 0x6000 + 600; ++id) {
    props.push_back({ltp::MakeTag(id, ltp::PropType::kInt64), ltp::PropValue::Int64(id)});
  }
  props.push_back({kName, ltp::PropValue::String("Inbox")});
  props.push_back({ltp::MakeTag(0x3702, ltp::PropType::kBinary), ltp::PropValue::Binary(Bytes(20000, 7))});
  const ltp::LtpNode pc = ltp::WritePropertyContext(db, props);
  db.PutNode({kFolder, pc.data, db.WriteSubnodeTree(pc.subnodes), 0});
  std::vector<ltp::TcRow> rows;
  for (std::uint32_t i = 1; i <= 1000; ++i) {
    rows.push_back({i * 32 + 4, i, {{kName, ltp::PropValue::String("m" + std::to_string(i))}, {kCount, ltp::PropValue::Int32(1)}}});
  }
  const ltp::LtpNode tc = ltp::WriteTableContext(db, std::vector<ltp::PropTag>{kName, kCount}, rows);
  db.PutNode({kTable, tc.data, db.WriteSubnodeTree(tc.subnodes), 0});
}

// Where a heap page's map starts, and where allocation `hid` starts in its page.
std::size_t Map(const Bytes& page) { return base::Get16(page, 0); }
std::size_t OffsetOf(const Bytes& page, ndb::Hid hid) { return base::Get16(page, Map(page) + 4 + 2 * (ltp::HidIndexOf(hid) - 1)); }

// Gives node `nid` a copy of its heap with the page holding `hid` edited; `edit` gets the
// page and where the allocation starts in it.
void EditHeap(ndb::NodeDatabase& db, ndb::Nid nid, ndb::Hid hid, const std::function<void(Bytes&, std::size_t)>& edit) {
  const ndb::NodeEntry node = *db.FindNode(nid);
  std::vector<ndb::Bid> leaves = db.DataLeaves(node.data);
  const std::size_t page = ltp::HidPageOf(hid);
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    if (i == page) {
      Bytes bytes = db.ReadBlock(leaves[i]);
      edit(bytes, OffsetOf(bytes, hid));
      leaves[i] = db.WriteBlock(bytes);
    } else {
      db.AddRef(leaves[i]);
    }
    total += db.DataSize(leaves[i]);
  }
  db.PutNode({nid, db.WriteDataTree(leaves, total), node.subnodes, node.parent});
}

TEST(LtpDamage, EachKindIsNamedWithItsNode) {
  testing::ScratchDir dir;
  // The sound sample, and where its structures are.
  auto sound = ndb::NodeDatabase::Create(dir / "sound.pst");
  WriteSample(*sound);
  ASSERT_TRUE(check::CheckLtp(*sound).empty()) << testing::Describe(check::CheckLtp(*sound));
  const ltp::HeapReader pc = ltp::HeapReader::Load(*sound, sound->FindNode(kFolder)->data);
  const ndb::Hid pc_bth = pc.user_root();
  const ndb::Hid pc_root = base::Get32(pc.Get(pc_bth), 4);
  const ndb::Hid pc_leaf = base::Get32(pc.Get(pc_root), 2);
  const ltp::HeapReader tc = ltp::HeapReader::Load(*sound, sound->FindNode(kTable)->data);
  const ndb::Hid tc_info = tc.user_root();
  const ndb::Hid row_leaf = base::Get32(tc.Get(base::Get32(tc.Get(base::Get32(tc.Get(tc_info), 10)), 4)), 4);
  ASSERT_EQ(ltp::BthReader(pc, pc_bth).header().index_levels, 1);
  sound->Close();

  const std::size_t kInfo = ltp::kTcInfoFixedSize;
  const struct {
    const char* what;
    ndb::Nid nid;
    ndb::Hid hid;  // the allocation whose page is edited
    std::function<void(Bytes&, std::size_t)> edit;
    const char* named;
    std::size_t findings = 1;
  } kCases[] = {
      {"map offset", kFolder, pc_bth, [](Bytes& p, std::size_t) { base::Put16(p, 0, 0xFFF0); }, "page map offset"},
      {"signature", kFolder, pc_bth, [](Bytes& p, std::size_t) { p[2] = 0; }, "0xEC signature"},
      {"map count", kFolder, pc_bth, [](Bytes& p, std::size_t) { base::Put16(p, Map(p), 5000); }, "runs past the block"},
      {"first allocation", kFolder, pc_bth, [](Bytes& p, std::size_t) { base::Put16(p, Map(p) + 4, 4); },
       "allocation 1 starts inside the page header"},
      {"overlap", kFolder, pc_bth, [](Bytes& p, std::size_t) { base::Put16(p, Map(p) + 6, 2); }, "allocations 1 and 2 are out of order"},
      {"into the map", kFolder, pc_bth,
       [](Bytes& p, std::size_t) { base::Put16(p, Map(p) + 4 + 2 * base::Get16(p, Map(p)), static_cast<std::uint16_t>(Map(p) + 2)); },
       "run into the page map"},
      {"unsorted keys", kFolder, pc_leaf, [](Bytes& p, std::size_t at) { std::swap_ranges(&p[at + 8], &p[at + 10], &p[at + 16]); },
       "strictly ascending"},
      {"index key", kFolder, pc_root, [](Bytes& p, std::size_t at) { base::Put16(p, at + 6, 1); }, "index key differs"},
      {"levels", kFolder, pc_bth, [](Bytes& p, std::size_t at) { p[at + 3] = 3; }, "property context"},
      {"row outside", kTable, row_leaf, [](Bytes& p, std::size_t at) { base::Put32(p, at + 4, 5000); }, "position 5000"},
      {"row twice", kTable, row_leaf, [](Bytes& p, std::size_t at) { std::copy_n(&p[at + 4], 4, &p[at + 12]); }, "two row ids"},
      {"rows swapped", kTable, row_leaf, [](Bytes& p, std::size_t at) { std::swap_ranges(&p[at + 4], &p[at + 8], &p[at + 12]); },
       "holds row id"},
      {"columns", kTable, tc_info,
       [&](Bytes& p, std::size_t at) {
         p[at + kInfo + 6] = 2;                     // first column: wrong width
         p[at + kInfo + 8 + 7] = p[at + kInfo + 7];  // second column: the first one's bit
       },
       "table columns", 2},
  };
  int n = 0;
  for (const auto& c : kCases) {
    auto db = ndb::NodeDatabase::Create(dir / ("case" + std::to_string(++n) + ".pst"));
    WriteSample(*db);
    EditHeap(*db, c.nid, c.hid, c.edit);
    const auto findings = check::CheckLtp(*db);
    std::size_t named = 0;
    for (const check::Finding& f : findings) {
      named += f.area == "ltp" && f.message.find("node " + base::Hex(c.nid)) != std::string::npos &&
               f.message.find(c.named) != std::string::npos;
    }
    EXPECT_GE(named, c.findings) << c.what << ": expected \"" << c.named << "\" in\n" << testing::Describe(findings);
  }
  // A value's subnode gone from its node.
  auto db = ndb::NodeDatabase::Create(dir / "subnode.pst");
  WriteSample(*db);
  const ndb::NodeEntry folder = *db->FindNode(kFolder);
  db->AddRef(folder.data);
  db->PutNode({kFolder, folder.data, 0, 0});
  const auto findings = check::CheckLtp(*db);
  ASSERT_EQ(findings.size(), 1u) << testing::Describe(findings);
  EXPECT_NE(findings[0].message.find("0x37020102"), std::string::npos) << findings[0].message;
}

}  // namespace
}  // namespace mailvane::pst
