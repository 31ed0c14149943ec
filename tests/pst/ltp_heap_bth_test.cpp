#include <gtest/gtest.h>

#include <numeric>

#include "pst/ltp/bth.h"
#include "pst/ltp/heap_on_node.h"
#include "base/little_endian.h"
#include "pst/ndb/format_error.h"
#include "support/memory_node_database.h"

namespace mailvane::pst {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t seed) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7);
  return v;
}

std::vector<std::vector<std::uint8_t>> PagesOf(const ltp::HeapWriter& heap) {
  std::vector<std::vector<std::uint8_t>> pages;
  for (std::size_t i = 0; i < heap.page_count(); ++i) pages.push_back(heap.PageBytes(i));
  return pages;
}

TEST(HeapTest, SinglePageLayoutMatchesTheFormat) {
  ltp::HeapWriter heap(ltp::kClientSigProperties);
  ndb::Hid a = heap.Allocate(Pattern(8, 1));
  ndb::Hid b = heap.Allocate(Pattern(3, 2));  // odd end: the page map must be WORD aligned
  heap.SetUserRoot(a);
  EXPECT_EQ(a, 0x20u);
  EXPECT_EQ(b, 0x40u);
  std::vector<std::uint8_t> p = heap.PageBytes(0);
  EXPECT_EQ(base::Get16(p, 0), 24);  // 12 header + 8 + 3, rounded up to even
  EXPECT_EQ(p[2], 0xEC);
  EXPECT_EQ(p[3], 0xBC);
  EXPECT_EQ(base::Get32(p, 4), 0x20u);
  EXPECT_EQ(p.size(), 24u + 4 + 2 * 3);
  EXPECT_EQ(base::Get16(p, 24), 2);        // cAlloc
  EXPECT_EQ(base::Get16(p, 28), 12);       // rgibAlloc
  EXPECT_EQ(base::Get16(p, 30), 20);
  EXPECT_EQ(base::Get16(p, 32), 23);

  ltp::HeapReader reader(PagesOf(heap));
  EXPECT_EQ(reader.user_root(), 0x20u);
  auto got = reader.Get(b);
  EXPECT_EQ(std::vector<std::uint8_t>(got.begin(), got.end()), Pattern(3, 2));
  EXPECT_THROW((void)reader.Get(0x60), ndb::FormatError);
  EXPECT_THROW((void)reader.Get(0x21), ndb::FormatError);  // an NID, not an HID
}

TEST(HeapTest, LimitsOfOneAllocation) {
  ltp::HeapWriter heap(ltp::kClientSigBth);
  EXPECT_NO_THROW(heap.Allocate(Pattern(ltp::kMaxHeapAllocation, 0)));
  EXPECT_THROW(heap.Allocate(Pattern(ltp::kMaxHeapAllocation + 1, 0)), std::length_error);
  EXPECT_THROW(heap.Allocate({}), std::invalid_argument);
}

// 300 pages cross the bitmap headers at pages 8 and 136 and 264; every page stays a
// valid block and every allocation reads back from the right page.
TEST(HeapTest, ManyPagesWithBitmapHeadersRoundTrip) {
  testing::MemoryNodeDatabase db;
  ltp::HeapWriter heap(ltp::kClientSigProperties);
  std::vector<ndb::Hid> hids;
  for (std::size_t i = 0; i < 300 * 3; ++i) hids.push_back(heap.Allocate(Pattern(2500 + i % 7, static_cast<std::uint8_t>(i))));
  ASSERT_GE(heap.page_count(), 300u);
  for (std::size_t i = 0; i < heap.page_count(); ++i) ASSERT_LE(heap.PageBytes(i).size(), ndb::kMaxBlockData);
  // A bitmap page's own fill level sits in the first nibble of its map.
  std::vector<std::uint8_t> page8 = heap.PageBytes(8);
  EXPECT_GE(base::Get16(page8, 0), 66);
  EXPECT_NE(page8[2] & 0x0F, 0);

  ndb::Bid bid = heap.Write(db);
  ltp::HeapReader reader = ltp::HeapReader::Load(db, bid);
  ASSERT_EQ(reader.page_count(), heap.page_count());
  for (std::size_t i = 0; i < hids.size(); ++i) {
    auto got = reader.Get(hids[i]);
    ASSERT_EQ(std::vector<std::uint8_t>(got.begin(), got.end()),
              Pattern(2500 + i % 7, static_cast<std::uint8_t>(i)))
        << "allocation " << i;
  }
  EXPECT_EQ(ltp::HidPageOf(hids.back()), heap.page_count() - 1);
}

TEST(HeapTest, FillLevelsFollowTheTable) {
  EXPECT_EQ(ltp::HeapFillLevel(8176), 0);
  EXPECT_EQ(ltp::HeapFillLevel(3584), 0);
  EXPECT_EQ(ltp::HeapFillLevel(3583), 1);
  EXPECT_EQ(ltp::HeapFillLevel(2048), 2);
  EXPECT_EQ(ltp::HeapFillLevel(8), 14);
  EXPECT_EQ(ltp::HeapFillLevel(7), 15);
}

TEST(HeapTest, DamagedPageMapsAreRefused) {
  ltp::HeapWriter heap(ltp::kClientSigProperties);
  heap.Allocate(Pattern(10, 1));
  heap.Allocate(Pattern(10, 2));
  const std::vector<std::uint8_t> good = heap.PageBytes(0);
  std::size_t map = base::Get16(good, 0);

  auto damaged = [&](auto edit) {
    std::vector<std::uint8_t> p = good;
    edit(p);
    return std::vector<std::vector<std::uint8_t>>{p};
  };
  EXPECT_THROW(ltp::HeapReader(damaged([&](auto& p) { base::Put16(p, 0, 4000); })), ndb::FormatError);
  EXPECT_THROW(ltp::HeapReader(damaged([&](auto& p) { p[2] = 0; })), ndb::FormatError);
  // second allocation starting before the first: overlap
  EXPECT_THROW(ltp::HeapReader(damaged([&](auto& p) { base::Put16(p, map + 6, 8); })), ndb::FormatError);
  // allocations reaching into the map
  EXPECT_THROW(ltp::HeapReader(damaged([&](auto& p) { base::Put16(p, map + 8, static_cast<std::uint16_t>(map + 2)); })), ndb::FormatError);
  // a count that runs the map past the block
  EXPECT_THROW(ltp::HeapReader(damaged([&](auto& p) { base::Put16(p, map, 500); })), ndb::FormatError);
  // first allocation inside the header
  EXPECT_THROW(ltp::HeapReader(damaged([&](auto& p) { base::Put16(p, map + 4, 4); })), ndb::FormatError);
}

std::vector<std::uint8_t> Records(std::uint32_t count, std::uint8_t cb_key, std::uint8_t cb_ent) {
  std::vector<std::uint8_t> out;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint64_t key = 1000 + std::uint64_t{i} * 3;
    for (std::uint8_t k = 0; k < cb_key; ++k) out.push_back(k < 8 ? static_cast<std::uint8_t>(key >> (8 * k)) : 0);
    for (std::uint8_t k = 0; k < cb_ent; ++k) out.push_back(static_cast<std::uint8_t>(i + k));
  }
  return out;
}

TEST(BthTest, RoundTripsAtEveryDepth) {
  struct Case {
    std::uint32_t count;
    std::uint8_t cb_key, cb_ent, levels;
  };
  // 447 records of 8 bytes fill one leaf; 447 * 447 one index level.
  for (Case c : {Case{0, 2, 6, 0}, Case{1, 4, 4, 0}, Case{447, 4, 4, 0}, Case{448, 4, 4, 1},
                 Case{150000, 4, 4, 1}, Case{300000, 4, 4, 2}, Case{5000, 16, 32, 1},
                 Case{3000, 8, 1, 1}}) {
    ltp::HeapWriter heap(ltp::kClientSigBth);
    std::vector<std::uint8_t> recs = Records(c.count, c.cb_key, c.cb_ent);
    ndb::Hid h = ltp::WriteBth(heap, c.cb_key, c.cb_ent, recs);
    heap.SetUserRoot(h);
    ltp::HeapReader reader(PagesOf(heap));
    ltp::BthReader bth(reader, reader.user_root());
    EXPECT_EQ(bth.header().index_levels, c.levels) << c.count;
    EXPECT_EQ(bth.header().root == 0, c.count == 0);
    EXPECT_EQ(bth.ReadAll(), recs) << c.count << " records";
  }
}

TEST(BthTest, WriterRefusesUnsortedOrDuplicateKeys) {
  ltp::HeapWriter heap(ltp::kClientSigBth);
  std::vector<std::uint8_t> recs = Records(3, 2, 2);
  std::swap_ranges(recs.begin(), recs.begin() + 4, recs.begin() + 4);
  EXPECT_THROW(ltp::WriteBth(heap, 2, 2, recs), std::invalid_argument);
  std::vector<std::uint8_t> dup = Records(2, 2, 2);
  dup[4] = dup[0];
  dup[5] = dup[1];
  EXPECT_THROW(ltp::WriteBth(heap, 2, 2, dup), std::invalid_argument);
  EXPECT_THROW(ltp::WriteBth(heap, 3, 2, {}), std::invalid_argument);
  // Keys compare as little-endian numbers: 0x0100 sorts after 0x00FF.
  std::vector<std::uint8_t> le = {0xFF, 0x00, 1, 0x00, 0x01, 2};
  EXPECT_NO_THROW(ltp::WriteBth(heap, 2, 1, le));
}

TEST(BthTest, ReaderCatchesDisorderAndBadIndexes) {
  ltp::HeapWriter heap(ltp::kClientSigBth);
  ndb::Hid h = ltp::WriteBth(heap, 4, 4, Records(1000, 4, 4));
  heap.SetUserRoot(h);
  auto pages = PagesOf(heap);
  ltp::HeapReader clean(pages);
  ltp::BthReader clean_bth(clean, h);
  ndb::Hid root = clean_bth.header().root;
  ndb::Hid first_leaf = base::Get32(clean.Get(root), 4);
  // Locate the first leaf's bytes in page 0 and make its second key smaller than the first.
  std::size_t page = ltp::HidPageOf(first_leaf);
  std::size_t map = base::Get16(pages[page], 0);
  std::size_t start = base::Get16(pages[page], map + 4 + 2 * (ltp::HidIndexOf(first_leaf) - 1));
  auto unsorted = pages;
  base::Put32(unsorted[page], start + 8, 5);
  ltp::HeapReader r1(unsorted);
  EXPECT_THROW(ltp::BthReader(r1, h).ReadAll(), ndb::FormatError);

  // the index key disagreeing with its child's first key
  auto bad_index = pages;
  std::size_t root_start = base::Get16(bad_index[ltp::HidPageOf(root)], base::Get16(bad_index[ltp::HidPageOf(root)], 0) + 4 + 2 * (ltp::HidIndexOf(root) - 1));
  base::Put32(bad_index[ltp::HidPageOf(root)], root_start + 8, 1);
  ltp::HeapReader r2(bad_index);
  EXPECT_THROW(ltp::BthReader(r2, h).ReadAll(), ndb::FormatError);

  // too many levels claimed: the leaf is read as an index
  auto deep = pages;
  std::size_t hdr = base::Get16(deep[0], base::Get16(deep[0], 0) + 4);
  deep[0][hdr + 3] = 3;
  ltp::HeapReader r3(deep);
  EXPECT_THROW(ltp::BthReader(r3, h).ReadAll(), ndb::FormatError);
}

}  // namespace
}  // namespace mailvane::pst
