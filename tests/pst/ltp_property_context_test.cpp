#include <gtest/gtest.h>

#include "pst/ltp/bth.h"
#include "pst/ltp/heap_on_node.h"
#include "base/little_endian.h"
#include "pst/ltp/property_context.h"
#include "pst/ndb/format_error.h"
#include "ltp_test_values.h"
#include "support/memory_node_database.h"

namespace mailvane::pst {
namespace {

using ltp_testing::Bytes;
using ltp_testing::EveryType;

// Every type at sizes on both sides of the inline, heap and subnode boundaries.
TEST(PropertyContextTest, EveryTypeRoundTripsAtEverySize) {
  for (std::size_t size : {0u, 4u, 8u, 3580u, 3581u, 1u << 20}) {
    testing::MemoryNodeDatabase db;
    std::vector<ltp::TaggedValue> values = EveryType(size);
    ltp::LtpNode node = ltp::WritePropertyContext(db, values);
    ltp::PropertyContext pc(db, node.data, node.subnodes);
    std::vector<ltp::TaggedValue> got = pc.ReadAll();
    ASSERT_EQ(got.size(), values.size()) << size;
    for (std::size_t i = 0; i < values.size(); ++i) {
      EXPECT_EQ(got[i].tag, values[i].tag) << size;
      EXPECT_EQ(got[i].value, values[i].value) << "tag " << std::hex << values[i].tag << std::dec << " size " << size;
    }
    // Which values went to subnodes: exactly those over 3580 bytes.
    std::size_t big = 0;
    for (const auto& v : values) big += v.value.bytes().size() > ltp::kMaxHeapAllocation;
    EXPECT_EQ(node.subnodes.size(), big) << size;
    for (const auto& s : node.subnodes) EXPECT_EQ(ndb::NidTypeOf(s.nid), ndb::NidType::kLtp);
  }
}

TEST(PropertyContextTest, RecordsAreSortedAndSmallValuesInline) {
  testing::MemoryNodeDatabase db;
  ltp::LtpNode node = ltp::WritePropertyContext(
      db, {{ltp::MakeTag(0x3001, ltp::PropType::kString), ltp::PropValue::String("b")},
           {ltp::MakeTag(0x0E07, ltp::PropType::kInt32), ltp::PropValue::Int32(0x11223344)},
           {ltp::MakeTag(0x0E1F, ltp::PropType::kBoolean), ltp::PropValue::Boolean(true)},
           {ltp::MakeTag(0x3007, ltp::PropType::kTime), ltp::PropValue::Time(5)}});
  ltp::HeapReader heap = ltp::HeapReader::Load(db, node.data);
  EXPECT_EQ(heap.client_sig(), 0xBC);
  EXPECT_EQ(heap.user_root(), 0x20u);
  ltp::BthReader bth(heap, heap.user_root());
  std::vector<std::uint8_t> recs = bth.ReadAll();
  ASSERT_EQ(recs.size(), 4u * 8);
  EXPECT_EQ(base::Get16(recs, 0), 0x0E07);
  EXPECT_EQ(base::Get32(recs, 4), 0x11223344u);    // inline
  EXPECT_EQ(base::Get16(recs, 8), 0x0E1F);
  EXPECT_EQ(base::Get32(recs, 12), 1u);            // Boolean: one byte, zero-extended
  EXPECT_EQ(base::Get16(recs, 16), 0x3001);
  EXPECT_TRUE(ltp::IsHid(base::Get32(recs, 20)));
  EXPECT_TRUE(ltp::IsHid(base::Get32(recs, 28)));       // 8-byte time in the heap
  EXPECT_TRUE(node.subnodes.empty());
}

TEST(PropertyContextTest, ManyPropertiesNeedAnIndexLevel) {
  testing::MemoryNodeDatabase db;
  std::vector<ltp::TaggedValue> values;
  for (std::uint16_t id = 1; id <= 1200; ++id) {
    values.push_back({ltp::MakeTag(id, ltp::PropType::kString), ltp::PropValue::String(std::string(id % 50, 'q'))});
  }
  ltp::LtpNode node = ltp::WritePropertyContext(db, values);
  ltp::HeapReader heap = ltp::HeapReader::Load(db, node.data);
  EXPECT_EQ(ltp::BthReader(heap, heap.user_root()).header().index_levels, 1);
  ltp::PropertyContext pc(db, node.data, node.subnodes);
  EXPECT_EQ(pc.Get(777)->AsString(), std::string(777 % 50, 'q'));
  EXPECT_FALSE(pc.Get(1201).has_value());
}

TEST(PropertyContextTest, StreamedValuesGoThroughSubnodesOrMoveIntoTheHeap) {
  testing::MemoryNodeDatabase db;
  std::vector<std::uint8_t> large = Bytes(100000, 9);
  std::vector<std::uint8_t> small = Bytes(100, 4);
  ndb::Bid large_bid = db.WriteData(large);
  ndb::Bid small_bid = db.WriteData(small);
  std::vector<ltp::StreamedValue> streamed = {{ltp::MakeTag(0x3701, ltp::PropType::kBinary), large_bid, large.size()},
                                         {ltp::MakeTag(0x1000, ltp::PropType::kBinary), small_bid, small.size()}};
  ltp::LtpNode node = ltp::WritePropertyContext(db, {{ltp::MakeTag(0x3704, ltp::PropType::kString), ltp::PropValue::String("a.bin")}},
                                      streamed, ltp::LtpSubnodeNids(5));
  ASSERT_EQ(node.subnodes.size(), 1u);
  EXPECT_EQ(node.subnodes[0].data, large_bid);  // the caller's stream, not a copy
  ltp::PropertyContext pc(db, node.data, node.subnodes);
  EXPECT_EQ(pc.Get(0x3701)->bytes(), large);
  EXPECT_EQ(pc.Get(0x1000)->bytes(), small);
  EXPECT_EQ(pc.ValueSubnode(0x3701)->data, large_bid);
  EXPECT_FALSE(pc.ValueSubnode(0x1000).has_value());
  // The small stream was copied and its blocks given back; the large one is referenced once.
  db.Release(node.data);
  db.Release(large_bid);
  EXPECT_EQ(db.live_blocks(), 0u);
}

TEST(PropertyContextTest, BadInputIsRefusedWithoutLeaking) {
  testing::MemoryNodeDatabase db;
  EXPECT_THROW(ltp::WritePropertyContext(db, {{ltp::MakeTag(0x1000, ltp::PropType::kString), ltp::PropValue::String("a")},
                                         {ltp::MakeTag(0x1000, ltp::PropType::kBinary), ltp::PropValue::Binary({1})}}),
               std::invalid_argument);
  EXPECT_THROW(ltp::WritePropertyContext(db, {{ltp::MakeTag(0x1000, ltp::PropType::kString), ltp::PropValue::Int32(1)}}),
               std::invalid_argument);
  // A failure after a large value was written leaves nothing behind.
  EXPECT_THROW(ltp::WritePropertyContext(db, {{ltp::MakeTag(0x1000, ltp::PropType::kBinary), ltp::PropValue::Binary(Bytes(9000))},
                                         {ltp::MakeTag(0x1001, ltp::PropType::kInt32), ltp::PropValue(ltp::PropType::kInt32, {1})}}),
               std::invalid_argument);
  EXPECT_EQ(db.live_blocks(), 0u);
}

TEST(PropertyContextTest, ReaderRefusesMissingSubnodesAndWrongHeaps) {
  testing::MemoryNodeDatabase db;
  ltp::LtpNode node = ltp::WritePropertyContext(db, {{ltp::MakeTag(0x1000, ltp::PropType::kBinary), ltp::PropValue::Binary(Bytes(5000))}});
  ltp::PropertyContext without(db, node.data, {});
  EXPECT_THROW((void)without.Get(0x1000), ndb::FormatError);

  ltp::HeapWriter other(ltp::kClientSigTable);
  other.SetUserRoot(ltp::WriteBth(other, 2, 6, {}));
  ndb::Bid table = other.Write(db);
  EXPECT_THROW(ltp::PropertyContext(db, table, {}), ndb::FormatError);
}

}  // namespace
}  // namespace mailvane::pst
