#include <gtest/gtest.h>

#include <filesystem>

#include "pst/check/ltp_check.h"
#include "pst/ltp/bth.h"
#include "pst/ltp/heap_on_node.h"
#include "base/little_endian.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "support/files.h"
#include "support/memory_node_database.h"

namespace mailvane::pst {
namespace {

namespace fs = std::filesystem;

constexpr ltp::PropTag kName = ltp::MakeTag(0x3001, ltp::PropType::kString);
constexpr ltp::PropTag kCount = ltp::MakeTag(0x3602, ltp::PropType::kInt32);
constexpr ndb::Nid kFolder = ndb::MakeNid(ndb::NidType::kNormalFolder, 0x400);
constexpr ndb::Nid kTable = ndb::MakeNid(ndb::NidType::kContentsTable, 0x400);

using testsupport::Describe;

// A folder-like property context and a table with enough rows for an index level.
void WriteSample(ndb::NodeDatabase& db) {
  std::vector<ltp::TaggedValue> props;
  for (std::uint16_t id = 0x6000; id < 0x6000 + 600; ++id) {
    props.push_back({ltp::MakeTag(id, ltp::PropType::kInt64), ltp::PropValue::Int64(id)});
  }
  props.push_back({kName, ltp::PropValue::String("Inbox")});
  props.push_back({ltp::MakeTag(0x3702, ltp::PropType::kBinary), ltp::PropValue::Binary(std::vector<std::uint8_t>(20000, 7))});
  ltp::LtpNode pc = ltp::WritePropertyContext(db, props);
  db.PutNode({kFolder, pc.data, db.WriteSubnodeTree(pc.subnodes), 0});

  std::vector<ltp::TcRow> rows;
  for (std::uint32_t i = 1; i <= 1000; ++i) {
    rows.push_back({i * 32 + 4, i, {{kName, ltp::PropValue::String("m" + std::to_string(i))}, {kCount, ltp::PropValue::Int32(1)}}});
  }
  ltp::LtpNode tc = ltp::WriteTableContext(db, std::vector<ltp::PropTag>{kName, kCount}, rows);
  db.PutNode({kTable, tc.data, db.WriteSubnodeTree(tc.subnodes), 0});
}

// The allocation `hid` of the heap in `block`: its offset in the block.
std::size_t OffsetOf(const std::vector<std::uint8_t>& block, ndb::Hid hid) {
  std::size_t map = base::Get16(block, 0);
  return base::Get16(block, map + 4 + 2 * (ltp::HidIndexOf(hid) - 1));
}

class LtpCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteSample(db_); }
  std::vector<std::uint8_t>& FirstBlock(ndb::Nid nid) { return Page(nid, 0); }
  std::vector<std::uint8_t>& Page(ndb::Nid nid, std::size_t page) {
    return db_.MutableBlock(db_.DataLeaves(db_.FindNode(nid)->data).at(page));
  }
  ltp::HeapReader Heap(ndb::Nid nid) { return ltp::HeapReader::Load(db_, db_.FindNode(nid)->data); }
  testing::MemoryNodeDatabase db_;
};

TEST_F(LtpCheckTest, SoundNodesHaveNoFindings) {
  std::vector<check::Finding> findings = check::CheckLtp(db_);
  EXPECT_TRUE(findings.empty()) << Describe(findings);
}

TEST_F(LtpCheckTest, DamagedHeapMapIsFound) {
  std::vector<std::uint8_t>& page = FirstBlock(kFolder);
  std::size_t map = base::Get16(page, 0);
  base::Put16(page, map + 6, 2);  // second allocation starts inside the header
  std::vector<check::Finding> findings = check::CheckLtp(db_);
  ASSERT_FALSE(findings.empty());
  EXPECT_NE(findings[0].message.find("node 0x8002"), std::string::npos) << Describe(findings);
  EXPECT_EQ(findings[0].area, "ltp");
}

TEST_F(LtpCheckTest, UnsortedBthIsFound) {
  ltp::HeapReader heap = Heap(kFolder);
  // The first leaf of the property BTH: swap the ids of its second and third records.
  ndb::Hid root = base::Get32(heap.Get(heap.user_root()), 4);
  ndb::Hid leaf = base::Get32(heap.Get(root), 2);
  std::vector<std::uint8_t>& page = Page(kFolder, ltp::HidPageOf(leaf));
  std::size_t at = OffsetOf(page, leaf) + 8;
  std::uint16_t a = base::Get16(page, at);
  base::Put16(page, at, base::Get16(page, at + 8));
  base::Put16(page, at + 8, a);
  std::vector<check::Finding> findings = check::CheckLtp(db_);
  ASSERT_FALSE(findings.empty());
  EXPECT_NE(Describe(findings).find("ascending"), std::string::npos) << Describe(findings);
}

TEST_F(LtpCheckTest, RowIndexOutsideTheMatrixIsFound) {
  ltp::HeapReader heap = Heap(kTable);
  ltp::BthReader index(heap, base::Get32(heap.Get(heap.user_root()), 10));
  ASSERT_EQ(index.header().index_levels, 1);
  ndb::Hid leaf = base::Get32(heap.Get(index.header().root), 4);
  std::vector<std::uint8_t>& page = Page(kTable, ltp::HidPageOf(leaf));
  base::Put32(page, OffsetOf(page, leaf) + 4, 5000);
  std::vector<check::Finding> findings = check::CheckLtp(db_);
  ASSERT_EQ(findings.size(), 1u) << Describe(findings);
  EXPECT_NE(findings[0].message.find("position 5000"), std::string::npos) << findings[0].message;
}

TEST_F(LtpCheckTest, InconsistentColumnsAreAllNamed) {
  ltp::HeapReader heap = Heap(kTable);
  std::vector<std::uint8_t>& page = Page(kTable, ltp::HidPageOf(heap.user_root()));
  std::size_t info = OffsetOf(page, heap.user_root());
  page[info + ltp::kTcInfoFixedSize + 6] = 2;                 // first column: wrong width
  page[info + ltp::kTcInfoFixedSize + 8 + 7] = page[info + ltp::kTcInfoFixedSize + 7];  // shared bit
  std::vector<check::Finding> findings = check::CheckLtp(db_);
  EXPECT_GE(findings.size(), 2u) << Describe(findings);
}

TEST_F(LtpCheckTest, MissingValueSubnodeIsFound) {
  ndb::NodeEntry node = *db_.FindNode(kFolder);
  db_.AddRef(node.data);
  db_.PutNode({kFolder, node.data, 0, 0});
  std::vector<check::Finding> findings = check::CheckLtp(db_);
  ASSERT_EQ(findings.size(), 1u) << Describe(findings);
  EXPECT_NE(findings[0].message.find("0x37020102"), std::string::npos) << findings[0].message;
}

// Every property and table context in Outlook's own files parses and passes.
TEST(LtpReferenceTest, OutlookFilesParseAndValidate) {
  const auto dir = testsupport::ReferenceDir();
  if (!dir) GTEST_SKIP() << "no reference files";
  for (const char* name : {"test_unicode.pst", "sample1.pst", "submessage.pst"}) {
    const fs::path file = *dir / name;
    auto db = ndb::NodeDatabase::Open(file, false);
    std::size_t pcs = 0, tcs = 0;
    db->ForEachNode([&](const ndb::NodeEntry& n) {
      if (n.data == 0) return;
      auto first = db->ReadBlock(db->DataLeaves(n.data)[0]);
      if (first.size() < 4 || first[2] != ltp::kHeapSignature) return;
      std::vector<ndb::SubnodeEntry> subs = n.subnodes ? db->ReadSubnodes(n.subnodes) : std::vector<ndb::SubnodeEntry>{};
      if (first[3] == ltp::kClientSigProperties) {
        ++pcs;
        EXPECT_NO_THROW(ltp::PropertyContext(*db, n.data, subs).ReadAll()) << name << " node " << n.nid;
      } else if (first[3] == ltp::kClientSigTable) {
        ++tcs;
        EXPECT_NO_THROW(ltp::TableContext(*db, n.data, subs).ReadRows()) << name << " node " << n.nid;
      }
    });
    EXPECT_GE(pcs, 10u) << name;
    EXPECT_GE(tcs, 20u) << name;
    std::vector<check::Finding> findings = check::CheckLtp(*db);
    EXPECT_TRUE(findings.empty()) << name << "\n" << Describe(findings);
    std::printf("%s: %zu property contexts, %zu table contexts checked\n", name, pcs, tcs);
  }
}

}  // namespace
}  // namespace mailvane::pst
