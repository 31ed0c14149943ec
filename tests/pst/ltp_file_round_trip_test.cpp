// Property and table contexts written through the real node database into a PST file,
// committed, reopened and read back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "base/file_time.h"
#include "pst/check/finding.h"
#include "pst/check/ltp_check.h"
#include "pst/check/ndb_check.h"
#include "pst/ltp/heap_on_node.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/ndb/node_database.h"
#include "ltp_test_values.h"
#include "support/files.h"

namespace mailvane::pst {
namespace {

namespace fs = std::filesystem;

using testsupport::Describe;

using ltp_testing::Bytes;

TEST(LtpFileRoundTripTest, ContextsSurviveCommitAndReopen) {
  testsupport::ScratchDir dir("ltp");
  fs::path file = dir.path() / "ltp.pst";
  const std::size_t kRows = 100000;
  const std::size_t kStreamed = 10u << 20;

  std::vector<ltp::TaggedValue> values;
  std::uint16_t id = 0x6000;
  for (std::size_t size : {0u, 4u, 8u, 3580u, 3581u, 1u << 20}) {
    for (auto& v : ltp_testing::EveryType(size, id)) values.push_back(std::move(v));
    id += 0x20;
  }
  // In tag order, the order the reader gives cells back in.
  std::vector<ltp::PropTag> columns = {ltp::MakeTag(0x0037, ltp::PropType::kString), ltp::MakeTag(0x0E06, ltp::PropType::kTime),
                                  ltp::MakeTag(0x0E08, ltp::PropType::kInt32), ltp::MakeTag(0x0E69, ltp::PropType::kBoolean)};
  auto row = [&](std::size_t i) {
    return ltp::TcRow{static_cast<std::uint32_t>(0x200004 + 32 * i), static_cast<std::uint32_t>(i),
                 {{columns[0], ltp::PropValue::String("Message " + std::to_string(i))},
                  {columns[1], ltp::PropValue::Time(base::FileTimeFromUnix(static_cast<std::int64_t>(1600000000 + i)))},
                  {columns[2], ltp::PropValue::Int32(static_cast<std::int32_t>(i))},
                  {columns[3], ltp::PropValue::Boolean(i % 2 == 1)}}};
  };
  std::vector<ltp::TcRow> rows;
  rows.reserve(kRows);
  for (std::size_t i = 0; i < kRows; ++i) rows.push_back(row(i));

  ndb::Nid pc_nid = 0;
  ndb::Nid tc_nid = 0;
  {
    auto db = ndb::NodeDatabase::Create(file);
    std::vector<std::uint8_t> whole;
    const std::vector<std::uint8_t> chunk = Bytes(65536, 9);
    while (whole.size() < kStreamed) whole.insert(whole.end(), chunk.begin(), chunk.end());
    ndb::Bid streamed = db->WriteData(whole);
    ltp::StreamedValue big{ltp::MakeTag(0x3701, ltp::PropType::kBinary), streamed, kStreamed};
    ltp::LtpNode pc = ltp::WritePropertyContext(*db, values, std::span(&big, 1));
    pc_nid = db->AllocateNid(ndb::NidType::kNormalMessage);
    db->PutNode({pc_nid, pc.data, db->WriteSubnodeTree(pc.subnodes), ndb::kNidRootFolder});

    auto start = std::chrono::steady_clock::now();
    ltp::LtpNode tc = ltp::WriteTableContext(*db, columns, rows);
    auto took = std::chrono::steady_clock::now() - start;
    std::printf("100000-row table into the file: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    tc_nid = db->AllocateNid(ndb::NidType::kContentsTable);
    db->PutNode({tc_nid, tc.data, db->WriteSubnodeTree(tc.subnodes), 0});
    db->Close();
  }

  auto db = ndb::NodeDatabase::Open(file, false);
  ndb::NodeEntry pc_node = *db->FindNode(pc_nid);
  ltp::PropertyContext pc(*db, pc_node.data, db->ReadSubnodes(pc_node.subnodes));
  for (const ltp::TaggedValue& v : values) {
    ASSERT_EQ(pc.Get(ltp::PropIdOf(v.tag)), v.value) << std::hex << v.tag;
  }
  std::optional<ndb::SubnodeEntry> big = pc.ValueSubnode(0x3701);
  ASSERT_TRUE(big.has_value());
  EXPECT_EQ(db->DataSize(big->data), kStreamed);

  ndb::NodeEntry tc_node = *db->FindNode(tc_nid);
  ltp::TableContext tc(*db, tc_node.data, db->ReadSubnodes(tc_node.subnodes));
  EXPECT_GT(ltp::HeapReader::Load(*db, tc_node.data).page_count(), 136u);  // past two bitmap pages
  std::vector<ltp::TcRow> got = tc.ReadRows();
  ASSERT_EQ(got.size(), kRows);
  for (std::size_t i = 0; i < kRows; i += 997) ASSERT_EQ(got[i], rows[i]) << i;
  EXPECT_EQ(got.back(), rows.back());

  std::vector<check::Finding> ltp = check::CheckLtp(*db);
  EXPECT_TRUE(ltp.empty()) << Describe(ltp);
  db.reset();
  // The node database layer of the file is sound too (this file has no folders, so only
  // its own layer is asked).
  std::vector<check::Finding> ndb = check::CheckNodeDatabase(file);
  EXPECT_FALSE(check::HasErrors(ndb)) << Describe(ndb);
}

}  // namespace
}  // namespace mailvane::pst
