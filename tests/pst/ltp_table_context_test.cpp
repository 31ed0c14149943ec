#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "base/file_time.h"
#include "pst/ltp/bth.h"
#include "pst/ltp/heap_on_node.h"
#include "base/little_endian.h"
#include "pst/ltp/table_context.h"
#include "pst/ndb/format_error.h"
#include "support/memory_node_database.h"

namespace mailvane::pst {
namespace {

constexpr ltp::PropTag kSubject = ltp::MakeTag(0x0037, ltp::PropType::kString);
constexpr ltp::PropTag kSize = ltp::MakeTag(0x0E08, ltp::PropType::kInt32);
constexpr ltp::PropTag kTime = ltp::MakeTag(0x0E06, ltp::PropType::kTime);
constexpr ltp::PropTag kRead = ltp::MakeTag(0x0E69, ltp::PropType::kBoolean);
constexpr ltp::PropTag kImportance = ltp::MakeTag(0x0017, ltp::PropType::kInt16);
constexpr ltp::PropTag kKey = ltp::MakeTag(0x0FF9, ltp::PropType::kBinary);
constexpr ltp::PropTag kGuid = ltp::MakeTag(0x6800, ltp::PropType::kGuid);
constexpr ltp::PropTag kKeywords = ltp::MakeTag(0x6801, ltp::PropType::kMvString);

const std::vector<ltp::PropTag> kColumns = {kSubject, kSize, kTime, kRead, kImportance, kKey, kGuid, kKeywords};

ltp::TcRow MakeRow(std::uint32_t i, std::size_t big_every = 0) {
  ltp::TcRow row;
  row.id = 0x200024 + 32 * i;
  row.version = i;
  std::string subject = "Subject \xCE\xB1 " + std::to_string(i);
  if (big_every != 0 && i % big_every == 0) subject.append(5000, 'x');  // cell in a subnode
  row.values.push_back({kSubject, ltp::PropValue::String(subject)});
  row.values.push_back({kSize, ltp::PropValue::Int32(static_cast<std::int32_t>(i * 10))});
  if (i % 3 != 0) row.values.push_back({kTime, ltp::PropValue::Time(base::FileTimeFromUnix(1600000000 + i))});
  row.values.push_back({kRead, ltp::PropValue::Boolean(i % 2 == 0)});
  if (i % 5 == 0) row.values.push_back({kImportance, ltp::PropValue::Int16(2)});
  if (i % 7 == 1) row.values.push_back({kKey, ltp::PropValue::Binary({})});  // empty: left absent
  if (i % 11 == 0) {
    ltp::Guid g{};
    g[0] = static_cast<std::uint8_t>(i);
    row.values.push_back({kGuid, ltp::PropValue::GuidValue(g)});
    row.values.push_back({kKeywords, ltp::PropValue::MvString({"a", "b"})});
  }
  std::sort(row.values.begin(), row.values.end(),
            [](const ltp::TaggedValue& a, const ltp::TaggedValue& b) { return a.tag < b.tag; });
  return row;
}

TEST(TableLayoutTest, RowIdAndVersionFirstThenCellsByWidth) {
  ltp::TcLayout layout = ltp::LayoutTableColumns(kColumns);
  ASSERT_EQ(layout.columns.size(), kColumns.size() + 2);
  EXPECT_TRUE(ltp::TableLayoutProblems(layout).empty());
  auto col = [&](ltp::PropTag t) {
    return *std::find_if(layout.columns.begin(), layout.columns.end(),
                         [&](const ltp::TcColumn& c) { return c.tag == t; });
  };
  EXPECT_EQ(col(ltp::kPrLtpRowId), (ltp::TcColumn{ltp::kPrLtpRowId, 0, 4, 0}));
  EXPECT_EQ(col(ltp::kPrLtpRowVer), (ltp::TcColumn{ltp::kPrLtpRowVer, 4, 4, 1}));
  EXPECT_EQ(col(kTime).ib_data, 8);       // the one 8-byte cell right after the two ids
  EXPECT_EQ(col(kTime).cb_data, 8);
  EXPECT_EQ(col(kGuid).cb_data, 4);       // GUIDs go by HNID
  EXPECT_EQ(layout.rgib[0], 8 + 8 + 4 * 5);
  EXPECT_EQ(col(kImportance).ib_data, layout.rgib[0]);
  EXPECT_EQ(layout.rgib[1], layout.rgib[0] + 2);
  EXPECT_EQ(col(kRead).ib_data, layout.rgib[1]);
  EXPECT_EQ(layout.rgib[2], layout.rgib[1] + 1);
  EXPECT_EQ(layout.rgib[3], layout.rgib[2] + 2);  // 10 columns: two bitmap bytes
  EXPECT_TRUE(std::is_sorted(layout.columns.begin(), layout.columns.end(),
                             [](const ltp::TcColumn& a, const ltp::TcColumn& b) { return a.tag < b.tag; }));
  EXPECT_THROW(ltp::LayoutTableColumns(std::vector<ltp::PropTag>{kSize, kSize}), std::invalid_argument);
}

TEST(TableLayoutTest, ProblemsAreNamed) {
  ltp::TcLayout good = ltp::LayoutTableColumns(kColumns);
  auto with = [&](auto edit) {
    ltp::TcLayout l = good;
    edit(l);
    return ltp::TableLayoutProblems(l);
  };
  EXPECT_FALSE(with([](ltp::TcLayout& l) { std::swap(l.columns[0], l.columns[1]); }).empty());
  EXPECT_FALSE(with([](ltp::TcLayout& l) { l.columns[0].cb_data = 8; }).empty());
  EXPECT_FALSE(with([](ltp::TcLayout& l) { l.columns[1].i_bit = l.columns[0].i_bit; }).empty());
  EXPECT_FALSE(with([](ltp::TcLayout& l) { l.columns[2].ib_data = l.columns[3].ib_data; }).empty());
  EXPECT_FALSE(with([](ltp::TcLayout& l) { l.rgib[3] = l.rgib[2]; }).empty());
  EXPECT_FALSE(with([](ltp::TcLayout& l) {
                 for (auto& c : l.columns) if (c.tag == ltp::kPrLtpRowVer) c.ib_data = 8;
               }).empty());
}

// A row as it reads back: an empty variable-size value is an absent cell, as in Outlook's
// files, never a cell marked present with value reference 0.
ltp::TcRow AsStored(ltp::TcRow row) {
  std::erase_if(row.values, [](const ltp::TaggedValue& v) {
    return ltp::FixedSizeOf(v.value.type()) == 0 && v.value.bytes().empty();
  });
  return row;
}

void ExpectRoundTrip(std::size_t count, std::size_t big_every, bool expect_subnode_matrix) {
  testing::MemoryNodeDatabase db;
  std::vector<ltp::TcRow> rows;
  for (std::uint32_t i = 0; i < count; ++i) rows.push_back(MakeRow(i, big_every));
  std::reverse(rows.begin(), rows.end());  // matrix order differs from row id order
  ltp::LtpNode node = ltp::WriteTableContext(db, kColumns, rows);
  ltp::TableContext tc(db, node.data, node.subnodes);
  EXPECT_EQ(tc.row_count(), count);
  std::vector<ltp::TcRow> got = tc.ReadRows();
  ASSERT_EQ(got.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(got[i], AsStored(rows[i])) << "row " << i;
  EXPECT_EQ(tc.CellsWithoutValue(), std::vector<std::string>{});
  if (count > 0) {
    EXPECT_EQ(tc.FindRow(rows.back().id), AsStored(rows.back()));
  }
  EXPECT_FALSE(tc.FindRow(1).has_value());
  ltp::HeapReader heap = ltp::HeapReader::Load(db, node.data);
  std::uint32_t hnid_rows = base::Get32(heap.Get(heap.user_root()), 14);
  EXPECT_EQ(hnid_rows != 0 && !ltp::IsHid(hnid_rows), expect_subnode_matrix) << count;
  EXPECT_EQ(hnid_rows == 0, count == 0);
}

TEST(TableContextTest, EmptyTable) { ExpectRoundTrip(0, 0, false); }
TEST(TableContextTest, OneRowInTheHeap) { ExpectRoundTrip(1, 0, false); }
TEST(TableContextTest, RowsAcrossBlocksWithLargeCells) { ExpectRoundTrip(2000, 97, true); }

TEST(TableContextTest, MatrixBlocksHoldWholeRowsAndArePadded) {
  testing::MemoryNodeDatabase db;
  std::vector<ltp::TcRow> rows;
  for (std::uint32_t i = 0; i < 1000; ++i) rows.push_back(MakeRow(i));
  ltp::LtpNode node = ltp::WriteTableContext(db, kColumns, rows);
  std::size_t row_size = ltp::LayoutTableColumns(kColumns).row_size();
  std::size_t per_block = ndb::kMaxBlockData / row_size;
  ASSERT_EQ(node.subnodes.size(), 1u);
  std::vector<ndb::Bid> leaves = db.DataLeaves(node.subnodes[0].data);
  ASSERT_EQ(leaves.size(), (1000 + per_block - 1) / per_block);
  for (std::size_t b = 0; b + 1 < leaves.size(); ++b) EXPECT_EQ(db.ReadBlock(leaves[b]).size(), ndb::kMaxBlockData);
  EXPECT_EQ(db.ReadBlock(leaves.back()).size(), (1000 - per_block * (leaves.size() - 1)) * row_size);
}

// A folder's contents table: 100,000 rows with variable cells, written and read back.
TEST(TableContextTest, HundredThousandRows) {
  testing::MemoryNodeDatabase db;
  std::vector<ltp::TcRow> rows;
  for (std::uint32_t i = 0; i < 100000; ++i) rows.push_back(MakeRow(i));
  auto start = std::chrono::steady_clock::now();
  ltp::LtpNode node = ltp::WriteTableContext(db, kColumns, rows);
  auto written = std::chrono::steady_clock::now();
  ltp::TableContext tc(db, node.data, node.subnodes);
  std::vector<ltp::TcRow> got = tc.ReadRows();
  auto read = std::chrono::steady_clock::now();
  using ms = std::chrono::milliseconds;
  std::printf("100000-row table: write %lld ms, read %lld ms, %zu heap pages\n",
              static_cast<long long>(std::chrono::duration_cast<ms>(written - start).count()),
              static_cast<long long>(std::chrono::duration_cast<ms>(read - written).count()),
              ltp::HeapReader::Load(db, node.data).page_count());
  ASSERT_EQ(got.size(), rows.size());
  EXPECT_EQ(got[54321], AsStored(rows[54321]));
  EXPECT_EQ(got.back(), AsStored(rows.back()));
  ltp::HeapReader heap = ltp::HeapReader::Load(db, node.data);
  ltp::BthReader index(heap, base::Get32(heap.Get(heap.user_root()), 10));
  EXPECT_EQ(index.header().index_levels, 1);
}

TEST(TableContextTest, BadRowsAreRefusedWithoutLeaking) {
  testing::MemoryNodeDatabase db;
  std::vector<ltp::TcRow> rows = {MakeRow(1, 1), MakeRow(2, 1)};
  auto refused = [&](std::vector<ltp::TcRow> bad) {
    EXPECT_THROW(ltp::WriteTableContext(db, kColumns, bad), std::invalid_argument);
    EXPECT_EQ(db.live_blocks(), 0u);
  };
  auto dup = rows;
  dup[1].id = dup[0].id;
  refused(dup);
  auto zero = rows;
  zero[1].id = 0;
  refused(zero);
  auto stranger = rows;
  stranger[1].values.push_back({ltp::MakeTag(0x3001, ltp::PropType::kString), ltp::PropValue::String("x")});
  refused(stranger);
  auto twice = rows;
  twice[1].values.push_back({kSize, ltp::PropValue::Int32(1)});
  refused(twice);
  auto row_id = rows;
  row_id[1].values.push_back({ltp::kPrLtpRowId, ltp::PropValue::Int32(1)});
  refused(row_id);
}

// Damage to the row index or the matrix is caught when the table is read.
TEST(TableContextTest, RowIndexAgainstMatrixIsChecked) {
  testing::MemoryNodeDatabase db;
  std::vector<ltp::TcRow> rows = {MakeRow(1), MakeRow(2), MakeRow(3)};
  ltp::LtpNode node = ltp::WriteTableContext(db, kColumns, rows);
  // The row index leaf is the first allocation after the TCINFO and the cells; find it by
  // walking the BTH header.
  ltp::HeapReader heap = ltp::HeapReader::Load(db, node.data);
  ndb::Hid leaf = base::Get32(heap.Get(base::Get32(heap.Get(heap.user_root()), 10)), 4);
  std::vector<std::uint8_t>& page = db.MutableBlock(node.data);
  std::size_t map = base::Get16(page, 0);
  std::size_t start = base::Get16(page, map + 4 + 2 * (ltp::HidIndexOf(leaf) - 1));
  const std::vector<std::uint8_t> good = page;

  base::Put32(page, start + 4, 7);  // position outside a 3-row matrix
  EXPECT_THROW(ltp::TableContext(db, node.data, node.subnodes), ndb::FormatError);
  page = good;
  base::Put32(page, start + 12, base::Get32(page, start + 4));  // two ids at one position
  EXPECT_THROW(ltp::TableContext(db, node.data, node.subnodes), ndb::FormatError);
  page = good;
  base::Put32(page, start + 4, base::Get32(good, start + 12));  // ids swapped: matrix disagrees
  base::Put32(page, start + 12, base::Get32(good, start + 4));
  EXPECT_THROW(ltp::TableContext(db, node.data, node.subnodes), ndb::FormatError);
  page = good;
  EXPECT_NO_THROW(ltp::TableContext(db, node.data, node.subnodes));
}

}  // namespace
}  // namespace mailvane::pst
