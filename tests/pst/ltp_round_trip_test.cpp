// The lists-tables-properties layer: values in their stored form, heaps, BTHs, and property
// and table contexts written into a PST file, committed, reopened and read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "base/file_time.h"
#include "base/little_endian.h"
#include "base/utf.h"
#include "pst/check/ltp_check.h"
#include "pst/ltp/bth.h"
#include "pst/ltp/heap_on_node.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/ndb/format_error.h"
#include "pst/ndb/node_database.h"
#include "pst/ndb/pst_node_database.h"
#include "pst/pst_test_support.h"

namespace mailvane::pst {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ltp::PropType;
using ltp::PropValue;
using testing::Pattern;

// The stored forms themselves are compared with pypff's reading in the message tests.
TEST(PropValue, ReadersRefuseOtherTypesAndDamage) {
  EXPECT_TRUE(PropValue(PropType::kBoolean, {0, 0, 1, 0}).AsBool());  // four bytes, as a context stores it
  EXPECT_THROW((void)PropValue::String("x").AsInt32(), std::logic_error);
  EXPECT_THROW((void)PropValue::Int32(1).AsTime(), std::logic_error);
  EXPECT_THROW((void)PropValue(PropType::kInt32, {1, 2}).AsInt32(), ndb::FormatError);
  EXPECT_THROW((void)PropValue(PropType::kString, {0x41}).AsString(), ndb::FormatError);
  EXPECT_THROW((void)PropValue(PropType::kMvInt32, {1, 2, 3}).AsMvInt32(), ndb::FormatError);
  const Bytes mv = PropValue::MvBinary({{1, 2}, {3}}).bytes();
  for (const auto& [at, value] : {std::pair{0, 200}, {8, 5}, {4, 100}}) {  // count, order, past the end
    Bytes bad = mv;
    bad[at] = static_cast<std::uint8_t>(value);
    EXPECT_THROW((void)PropValue(PropType::kMvBinary, bad).AsMvBinary(), ndb::FormatError) << at;
  }
}

TEST(PropValue, TextAndTimesConvert) {
  const std::string text = "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";  // A é 中 😀
  EXPECT_EQ(base::Utf16FromUtf8(text), std::u16string(u"A\u00E9\u4E2D\U0001F600"));
  EXPECT_EQ(base::Utf8FromUtf16(base::Utf16FromUtf8(text)), text);
  EXPECT_EQ(PropValue::String(text).bytes().size(), 10u);
  // Invalid encodings become replacement characters, never lost text or a crash.
  EXPECT_EQ(base::Utf16FromUtf8("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(base::Utf16FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");          // overlong '/'
  EXPECT_EQ(base::Utf16FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(base::Utf16FromUtf8("\xE4\xB8"), u"\uFFFD\uFFFD");          // truncated
  EXPECT_EQ(base::Utf8FromUtf16(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(base::Utf8FromUtf16(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
  EXPECT_EQ(base::FileTimeFromUnix(0), 116444736000000000ULL);
  EXPECT_EQ(base::UnixFromFileTime(base::FileTimeFromUnix(1700000000)), 1700000000);
  EXPECT_EQ(base::FileTimeFromUnix(-20000000000LL), 0u);
}

Bytes Records(std::uint32_t count, std::uint8_t cb_key, std::uint8_t cb_ent) {
  Bytes out;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t key = 1000 + std::uint64_t{i} * 3;
    for (std::uint8_t k = 0; k < cb_key; ++k) out.push_back(k < 8 ? static_cast<std::uint8_t>(key >> (8 * k)) : 0);
    for (std::uint8_t k = 0; k < cb_ent; ++k) out.push_back(static_cast<std::uint8_t>(i + k));
  }
  return out;
}

TEST(Bth, RoundTripsAtEveryDepthAndRefusesDisorderAndOversizedAllocations) {
  const struct {
    std::uint32_t count;
    std::uint8_t cb_key, cb_ent, levels;
  } kCases[] = {  // 447 records of 8 bytes fill one leaf; 447 * 447 one index level
      {0, 2, 6, 0}, {1, 4, 4, 0}, {447, 4, 4, 0}, {448, 4, 4, 1}, {300000, 4, 4, 2}, {5000, 16, 32, 1}, {3000, 8, 1, 1}};
  for (const auto& c : kCases) {
    ltp::HeapWriter heap(ltp::kClientSigBth);
    const Bytes recs = Records(c.count, c.cb_key, c.cb_ent);
    heap.SetUserRoot(ltp::WriteBth(heap, c.cb_key, c.cb_ent, recs));
    std::vector<Bytes> pages;
    for (std::size_t i = 0; i < heap.page_count(); ++i) pages.push_back(heap.PageBytes(i));
    const ltp::HeapReader reader(pages);
    const ltp::BthReader bth(reader, reader.user_root());
    EXPECT_EQ(bth.header().index_levels, c.levels) << c.count;
    EXPECT_EQ(bth.ReadAll(), recs) << c.count << " records";
  }
  ltp::HeapWriter heap(ltp::kClientSigBth);
  Bytes swapped = Records(3, 2, 2);
  std::swap_ranges(swapped.begin(), swapped.begin() + 4, swapped.begin() + 4);
  EXPECT_THROW(ltp::WriteBth(heap, 2, 2, swapped), std::invalid_argument);
  Bytes twice = Records(2, 2, 2);
  std::copy_n(twice.begin(), 2, twice.begin() + 4);
  EXPECT_THROW(ltp::WriteBth(heap, 2, 2, twice), std::invalid_argument);
  EXPECT_THROW(ltp::WriteBth(heap, 3, 2, {}), std::invalid_argument);
  EXPECT_NO_THROW(ltp::WriteBth(heap, 2, 1, Bytes{0xFF, 0x00, 1, 0x00, 0x01, 2}));  // keys are little-endian
  EXPECT_NO_THROW(heap.Allocate(Pattern(ltp::kMaxHeapAllocation)));
  EXPECT_THROW(heap.Allocate(Pattern(ltp::kMaxHeapAllocation + 1)), std::length_error);
  EXPECT_THROW(heap.Allocate({}), std::invalid_argument);
}

// One value of every type; strings, binaries and lists of about `size` bytes.
std::vector<ltp::TaggedValue> EveryType(std::size_t size, std::uint16_t id) {
  std::u16string text;
  while (text.size() * 2 < size) text += u"a\u00E9\u4E2D\U0001F600";  // BMP and beyond
  text.resize(size / 2);
  if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.back() = u'z';
  std::vector<std::string> strs;
  std::vector<Bytes> bins;
  if (size > 0) {
    strs = {"x", base::Utf8FromUtf16(text)};
    bins = {{}, Pattern(size, 3)};
  }
  ltp::Guid g{};
  for (int i = 0; i < 16; ++i) g[i] = static_cast<std::uint8_t>(i * 17);
  auto tag = [&](PropType t) { return ltp::MakeTag(id++, t); };
  return {
      {tag(PropType::kInt16), PropValue::Int16(-300)},
      {tag(PropType::kInt32), PropValue::Int32(-70000)},
      {tag(PropType::kInt64), PropValue::Int64(-(1LL << 40))},
      {tag(PropType::kDouble), PropValue::Double(3.25)},
      {tag(PropType::kBoolean), PropValue::Boolean(true)},
      {tag(PropType::kBoolean), PropValue::Boolean(false)},
      {tag(PropType::kTime), PropValue::Time(base::FileTimeFromUnix(1700000000))},
      {tag(PropType::kString), PropValue::String16(text)},
      {tag(PropType::kBinary), PropValue::Binary(Pattern(size))},
      {tag(PropType::kGuid), PropValue::GuidValue(g)},
      {tag(PropType::kMvString), PropValue::MvString(strs)},
      {tag(PropType::kMvBinary), PropValue::MvBinary(bins)},
      {tag(PropType::kMvInt32), PropValue::MvInt32(std::vector<std::int32_t>(size / 4, -5))},
  };
}

const std::vector<ltp::PropTag> kColumns = {
    ltp::MakeTag(0x0017, PropType::kInt16), ltp::MakeTag(0x0037, PropType::kString),
    ltp::MakeTag(0x0E06, PropType::kTime),  ltp::MakeTag(0x0E08, PropType::kInt32),
    ltp::MakeTag(0x0E69, PropType::kBoolean), ltp::MakeTag(0x0FF9, PropType::kBinary),
    ltp::MakeTag(0x6800, PropType::kGuid),  ltp::MakeTag(0x6801, PropType::kMvString)};

// A row with cells present and absent; every 97th subject is too large for the heap. An
// empty binary is not stored: it reads back as an absent cell, as in Outlook's files.
ltp::TcRow Row(std::uint32_t i, bool as_stored = false) {
  ltp::TcRow row{0x200024 + 32 * i, i, {}};
  auto add = [&](std::size_t column, PropValue v) { row.values.push_back({kColumns[column], std::move(v)}); };
  if (i % 5 == 0) add(0, PropValue::Int16(2));
  add(1, PropValue::String("Subject \xCE\xB1 " + std::to_string(i) + (i % 97 == 0 ? std::string(5000, 'x') : "")));
  if (i % 3 != 0) add(2, PropValue::Time(base::FileTimeFromUnix(1600000000 + i)));
  add(3, PropValue::Int32(static_cast<std::int32_t>(i * 10)));
  add(4, PropValue::Boolean(i % 2 == 0));
  if (i % 7 == 1 && !as_stored) add(5, PropValue::Binary({}));
  if (i % 11 == 0) {
    ltp::Guid g{};
    g[0] = static_cast<std::uint8_t>(i);
    add(6, PropValue::GuidValue(g));
    add(7, PropValue::MvString({"a", "b"}));
  }
  return row;
}

std::size_t Blocks(ndb::NodeDatabase& db) { return dynamic_cast<ndb::PstNodeDatabase&>(db).block_count(); }

TEST(Contexts, EveryTypeAndSizeAndLargeTablesSurviveCommitAndReopen) {
  testing::ScratchDir dir;
  const auto file = dir / "ltp.pst";
  const std::size_t kStreamed = 10u << 20;
  std::vector<ltp::TaggedValue> values;
  std::uint16_t id = 0x6000;
  for (std::size_t size : {0u, 4u, 8u, 3580u, 3581u, 1u << 20}) {  // around the heap and subnode limits
    for (auto& v : EveryType(size, id)) values.push_back(std::move(v));
    id += 0x20;
  }
  for (std::uint16_t n = 0; n < 600; ++n) {  // enough records for an index level
    values.push_back({ltp::MakeTag(static_cast<std::uint16_t>(0x7000 + n), PropType::kInt32), PropValue::Int32(n)});
  }
  const Bytes small = Pattern(100, 4);
  std::vector<ndb::Nid> tables;
  ndb::Nid pc_nid = 0;
  {
    auto db = ndb::NodeDatabase::Create(file);
    // Values already in the file: a large one stays where it is, a small one moves into the heap.
    const std::vector<ltp::StreamedValue> streamed = {
        {ltp::MakeTag(0x3701, PropType::kBinary), db->WriteData(Pattern(kStreamed, 9)), kStreamed},
        {ltp::MakeTag(0x1000, PropType::kBinary), db->WriteData(small), small.size()}};
    const ltp::LtpNode pc = ltp::WritePropertyContext(*db, values, streamed);
    EXPECT_TRUE(std::any_of(pc.subnodes.begin(), pc.subnodes.end(),  // the caller's data, not a copy
                            [&](const ndb::SubnodeEntry& s) { return s.data == streamed[0].data; }));
    pc_nid = db->AllocateNid(ndb::NidType::kNormalMessage);
    db->PutNode({pc_nid, pc.data, db->WriteSubnodeTree(pc.subnodes), ndb::kNidRootFolder});
    for (std::uint32_t count : {0u, 1u, 100000u}) {
      std::vector<ltp::TcRow> rows;
      for (std::uint32_t i = count; i-- > 0;) rows.push_back(Row(i));  // matrix order is not row id order
      const ltp::LtpNode tc = ltp::WriteTableContext(*db, kColumns, rows);
      tables.push_back(db->AllocateNid(ndb::NidType::kContentsTable));
      db->PutNode({tables.back(), tc.data, db->WriteSubnodeTree(tc.subnodes), 0});
    }
    // Bad input is refused and leaves no block behind.
    const std::size_t blocks = Blocks(*db);
    auto tag = [](std::uint16_t i, PropType t) { return ltp::MakeTag(i, t); };
    for (const auto& bad : std::vector<std::vector<ltp::TaggedValue>>{
             {{tag(0x1000, PropType::kString), PropValue::String("a")}, {tag(0x1000, PropType::kBinary), PropValue::Binary({1})}},
             {{tag(0x1000, PropType::kString), PropValue::Int32(1)}},
             {{tag(0x1000, PropType::kBinary), PropValue::Binary(Pattern(9000))},  // fails after a subnode was written
              {tag(0x1001, PropType::kInt32), PropValue(PropType::kInt32, {1})}}}) {
      EXPECT_THROW(ltp::WritePropertyContext(*db, bad), std::invalid_argument);
    }
    const std::vector<ltp::TcRow> rows = {Row(97), Row(194)};
    auto with = [&](const std::function<void(ltp::TcRow&)>& edit) {
      std::vector<ltp::TcRow> bad = rows;
      edit(bad[1]);
      return bad;
    };
    for (const auto& bad : {with([&](ltp::TcRow& r) { r.id = rows[0].id; }), with([](ltp::TcRow& r) { r.id = 0; }),
                            with([&](ltp::TcRow& r) { r.values.push_back({tag(0x3001, PropType::kString), PropValue::String("x")}); }),
                            with([](ltp::TcRow& r) { r.values.push_back({kColumns[3], PropValue::Int32(1)}); }),
                            with([](ltp::TcRow& r) { r.values.push_back({ltp::kPrLtpRowId, PropValue::Int32(1)}); })}) {
      EXPECT_THROW(ltp::WriteTableContext(*db, kColumns, bad), std::invalid_argument);
    }
    EXPECT_EQ(Blocks(*db), blocks);
    db->Close();
  }

  auto db = ndb::NodeDatabase::Open(file, false);
  const ndb::NodeEntry pc_node = *db->FindNode(pc_nid);
  const ltp::PropertyContext pc(*db, pc_node.data, db->ReadSubnodes(pc_node.subnodes));
  for (const ltp::TaggedValue& v : values) {
    ASSERT_EQ(pc.Get(ltp::PropIdOf(v.tag)), v.value) << std::hex << v.tag;
    EXPECT_EQ(pc.ValueSubnode(ltp::PropIdOf(v.tag)).has_value(), v.value.bytes().size() > ltp::kMaxHeapAllocation)
        << std::hex << v.tag;
  }
  EXPECT_EQ(db->DataSize(pc.ValueSubnode(0x3701)->data), kStreamed);
  EXPECT_EQ(pc.Get(0x1000)->bytes(), small);
  EXPECT_FALSE(pc.ValueSubnode(0x1000).has_value());
  const ltp::HeapReader pc_heap = ltp::HeapReader::Load(*db, pc_node.data);
  EXPECT_EQ(ltp::BthReader(pc_heap, pc_heap.user_root()).header().index_levels, 1);
  EXPECT_THROW(ltp::TableContext(*db, pc_node.data, {}), ndb::FormatError);  // not a table's heap

  for (ndb::Nid nid : tables) {
    const ndb::NodeEntry node = *db->FindNode(nid);
    const ltp::TableContext tc(*db, node.data, db->ReadSubnodes(node.subnodes));
    const std::vector<ltp::TcRow> got = tc.ReadRows();
    ASSERT_EQ(got.size(), tc.row_count());
    for (std::size_t i = 0; i < got.size(); i += 1 + got.size() / 1000) {
      const auto n = static_cast<std::uint32_t>(got.size() - 1 - i);
      ASSERT_EQ(got[i], Row(n, true)) << "row " << i;
    }
    if (!got.empty()) {
      EXPECT_EQ(tc.FindRow(Row(0).id), Row(0, true));
    }
    EXPECT_FALSE(tc.FindRow(1).has_value());
    EXPECT_TRUE(tc.CellsWithoutValue().empty());
  }
  const ndb::NodeEntry big = *db->FindNode(tables.back());
  EXPECT_GT(ltp::HeapReader::Load(*db, big.data).page_count(), 136u);  // past two bitmap pages
  EXPECT_GT(db->ReadSubnodes(big.subnodes).size(), 340u);               // past one SLBLOCK
  const auto ltp = check::CheckLtp(*db);
  EXPECT_TRUE(ltp.empty()) << testing::Describe(ltp);
  db.reset();
  testing::ExpectNdbClean(file);
}

}  // namespace
}  // namespace mailvane::pst
