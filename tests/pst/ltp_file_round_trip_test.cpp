// Property and table contexts written through the real node database into a PST file,
// committed, reopened and read back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

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

  std::vector<TaggedValue> values;
  std::uint16_t id = 0x6000;
  for (std::size_t size : {0u, 4u, 8u, 3580u, 3581u, 1u << 20}) {
    for (auto& v : ltp_testing::EveryType(size, id)) values.push_back(std::move(v));
    id += 0x20;
  }
  // In tag order, the order the reader gives cells back in.
  std::vector<PropTag> columns = {MakeTag(0x0037, PropType::kString), MakeTag(0x0E06, PropType::kTime),
                                  MakeTag(0x0E08, PropType::kInt32), MakeTag(0x0E69, PropType::kBoolean)};
  auto row = [&](std::size_t i) {
    return TcRow{static_cast<std::uint32_t>(0x200004 + 32 * i), static_cast<std::uint32_t>(i),
                 {{columns[0], PropValue::String("Message " + std::to_string(i))},
                  {columns[1], PropValue::Time(FileTimeFromUnix(static_cast<std::int64_t>(1600000000 + i)))},
                  {columns[2], PropValue::Int32(static_cast<std::int32_t>(i))},
                  {columns[3], PropValue::Boolean(i % 2 == 1)}}};
  };
  std::vector<TcRow> rows;
  rows.reserve(kRows);
  for (std::size_t i = 0; i < kRows; ++i) rows.push_back(row(i));

  Nid pc_nid = 0;
  Nid tc_nid = 0;
  {
    auto db = NodeDatabase::Create(file);
    DataWriter stream(*db);
    std::vector<std::uint8_t> chunk = Bytes(65536, 9);
    while (stream.size() < kStreamed) stream.Append(chunk);
    Bid streamed = stream.Finish();
    StreamedValue big{MakeTag(0x3701, PropType::kBinary), streamed, kStreamed};
    LtpNode pc = WritePropertyContext(*db, values, std::span(&big, 1));
    pc_nid = db->AllocateNid(NidType::kNormalMessage);
    db->PutNode({pc_nid, pc.data, db->WriteSubnodeTree(pc.subnodes), kNidRootFolder});

    auto start = std::chrono::steady_clock::now();
    LtpNode tc = WriteTableContext(*db, columns, rows);
    auto took = std::chrono::steady_clock::now() - start;
    std::printf("100000-row table into the file: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    tc_nid = db->AllocateNid(NidType::kContentsTable);
    db->PutNode({tc_nid, tc.data, db->WriteSubnodeTree(tc.subnodes), 0});
    db->Close();
  }

  auto db = NodeDatabase::Open(file, false);
  NodeEntry pc_node = *db->FindNode(pc_nid);
  PropertyContext pc(*db, pc_node.data, db->ReadSubnodes(pc_node.subnodes));
  for (const TaggedValue& v : values) {
    ASSERT_EQ(pc.Get(PropIdOf(v.tag)), v.value) << std::hex << v.tag;
  }
  std::optional<SubnodeEntry> big = pc.ValueSubnode(0x3701);
  ASSERT_TRUE(big.has_value());
  EXPECT_EQ(db->DataSize(big->data), kStreamed);

  NodeEntry tc_node = *db->FindNode(tc_nid);
  TableContext tc(*db, tc_node.data, db->ReadSubnodes(tc_node.subnodes));
  EXPECT_GT(HeapReader::Load(*db, tc_node.data).page_count(), 136u);  // past two bitmap pages
  std::vector<TcRow> got = tc.ReadRows();
  ASSERT_EQ(got.size(), kRows);
  for (std::size_t i = 0; i < kRows; i += 997) ASSERT_EQ(got[i], rows[i]) << i;
  EXPECT_EQ(got.back(), rows.back());

  std::vector<Finding> ltp = CheckLtp(*db);
  EXPECT_TRUE(ltp.empty()) << Describe(ltp);
  db.reset();
  // The node database layer of the file is sound too (this file has no folders, so only
  // its own layer is asked).
  std::vector<Finding> ndb = CheckNodeDatabase(file);
  EXPECT_FALSE(HasErrors(ndb)) << Describe(ndb);
}

}  // namespace
}  // namespace mailvane::pst
