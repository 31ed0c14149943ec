// Damaged copies of a sound file: the checker must name each kind of damage.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "base/little_endian.h"
#include "ndb_test_util.h"
#include "pst/check/ndb_check.h"
#include "pst/ndb/crc32.h"
#include "pst/ndb/layout.h"
#include "pst/ndb/node_database.h"
#include "pst/ndb/page.h"

namespace mailvane::pst {
namespace {

using namespace ndb;
using ndb_testing::Describe;
using ndb_testing::Pattern;

using Bytes = std::vector<std::uint8_t>;

Bytes Load(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Save(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class NdbDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ndb_testing::FreshDir("");
    sound_ = dir_ / "sound.pst";
    auto db = ndb::NodeDatabase::Create(sound_);
    for (std::uint32_t i = 0; i < 5; ++i) {
      db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage), db->WriteData(Pattern(300, i)), 0,
                   ndb::kNidRootFolder});
    }
    ndb::Bid tree = db->WriteSubnodeTree({{ndb::MakeNid(ndb::NidType::kLtp, 1), db->WriteData(Pattern(99, 9)), 0}});
    db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage), db->WriteData(Pattern(9000, 8)), tree,
                 ndb::kNidRootFolder});
    db->Close();
    bytes_ = Load(sound_);
    bbt_ib_ = base::Get64(bytes_.data() + 240);
    nbt_ib_ = base::Get64(bytes_.data() + 224);
    ASSERT_EQ(bytes_[bbt_ib_ + 491], 0) << "the test expects a one-page BBT";
  }

  // Offset and size of the BBT entry i (entries are 24 bytes: BID, IB, cb, cRef).
  std::uint8_t* BbtEntry(Bytes& b, std::size_t i) { return b.data() + bbt_ib_ + 24 * i; }
  std::size_t FindBbtEntry(const Bytes& b, bool internal) {
    for (std::size_t i = 0; i < b[bbt_ib_ + 488]; ++i) {
      if (ndb::IsInternal(base::Get64(b.data() + bbt_ib_ + 24 * i)) == internal) return i;
    }
    ADD_FAILURE() << "no such block";
    return 0;
  }
  void Reseal(Bytes& b, std::uint64_t ib, ndb::PageType type) {
    ndb::SealPage(std::span(b).subspan(ib, ndb::kPageSize), type, ib, base::Get64(b.data() + ib + 504));
  }

  // Applies `damage` to a copy and expects an error (or a note) whose text has `expect`.
  void ExpectNamed(const std::string& what, const std::function<void(Bytes&)>& damage,
                   const std::string& expect, check::Severity severity = check::Severity::kError) {
    Bytes copy = bytes_;
    damage(copy);
    auto path = dir_ / (what + ".pst");
    Save(path, copy);
    auto findings = check::CheckNodeDatabase(path);
    bool named = false;
    for (const check::Finding& f : findings) {
      named = named || (f.severity == severity && f.message.find(expect) != std::string::npos);
    }
    EXPECT_TRUE(named) << what << ": expected \"" << expect << "\" in\n" << Describe(findings);
    if (severity == check::Severity::kNote) {
      EXPECT_FALSE(check::HasErrors(findings)) << what << "\n" << Describe(findings);
    }
  }

  std::filesystem::path dir_;
  std::filesystem::path sound_;
  Bytes bytes_;
  std::uint64_t bbt_ib_ = 0;
  std::uint64_t nbt_ib_ = 0;
};

TEST_F(NdbDamage, EachKindOfDamageIsNamed) {
  ASSERT_TRUE(check::CheckNodeDatabase(sound_).empty()) << Describe(check::CheckNodeDatabase(sound_));
  auto data_block = [&](Bytes& b) { return base::Get64(BbtEntry(b, FindBbtEntry(b, false)) + 8); };

  ExpectNamed("block-byte", [&](Bytes& b) { b[data_block(b) + 10] ^= 0x01; }, "CRC of block");
  ExpectNamed("block-signature", [&](Bytes& b) { b[data_block(b) + 320 - 14] ^= 0x40; },
              "signature of block");
  ExpectNamed("block-trailer-cb", [&](Bytes& b) { b[data_block(b) + 320 - 16] ^= 0x02; },
              "trailer cb");
  ExpectNamed("page-byte", [&](Bytes& b) { b[nbt_ib_ + 40] ^= 0x10; }, "CRC of the page");
  ExpectNamed("page-ptype", [&](Bytes& b) { b[nbt_ib_ + 497] = 0x80; }, "ptypeRepeat");
  ExpectNamed("page-signature", [&](Bytes& b) { b[bbt_ib_ + 498] ^= 0x01; }, "signature of the page");
  ExpectNamed("header-byte", [&](Bytes& b) { b[100] ^= 0x01; }, "dwCRCPartial");
  ExpectNamed("header-tail", [&](Bytes& b) { b[520] ^= 0x01; }, "dwCRCFull");
  ExpectNamed("truncated", [&](Bytes& b) { b.resize(b.size() - 4096); }, "truncated");
  ExpectNamed("amap-cleared", [&](Bytes& b) {
    std::uint64_t ib = data_block(b);
    std::uint64_t slot = (ib - ndb::kFirstAMapOffset) / ndb::kSlotSize;
    b[ndb::kFirstAMapOffset + slot / 8] &= static_cast<std::uint8_t>(~(0x80u >> (slot % 8)));
    Reseal(b, ndb::kFirstAMapOffset, ndb::kPageAMap);
  }, "in use but free in AMap");
  ExpectNamed("amap-page-byte", [&](Bytes& b) { b[ndb::kFirstAMapOffset + 200] ^= 0x01; }, "AMap: CRC");
  ExpectNamed("bbt-order", [&](Bytes& b) {
    std::uint8_t* e = BbtEntry(b, 0);
    std::swap_ranges(e, e + 24, e + 24);
    Reseal(b, bbt_ib_, ndb::kPageBbt);
  }, "does not follow");
  ExpectNamed("refcount", [&](Bytes& b) {
    std::uint8_t* e = BbtEntry(b, FindBbtEntry(b, false));
    base::Put16(e + 18, static_cast<std::uint16_t>(base::Get16(e + 18) + 1));
    Reseal(b, bbt_ib_, ndb::kPageBbt);
  }, "has cRef 3, expected 2");
  ExpectNamed("dangling", [&](Bytes& b) {
    base::Put64(b.data() + nbt_ib_ + 8, 0x7777770);  // bidData of the first node
    Reseal(b, nbt_ib_, ndb::kPageNbt);
  }, "not in the BBT");
  ExpectNamed("xblock-total", [&](Bytes& b) {
    std::size_t i = 0;
    while (b[base::Get64(BbtEntry(b, i) + 8)] != ndb::kBlockTypeData || !ndb::IsInternal(base::Get64(BbtEntry(b, i)))) ++i;
    std::uint8_t* e = BbtEntry(b, i);
    std::uint64_t ib = base::Get64(e + 8);
    std::size_t cb = base::Get16(e + 16);
    base::Put32(b.data() + ib + 4, 9001);
    ndb::SealBlock(std::span(b).subspan(ib, ndb::BlockSizeOnDisk(cb)), cb, ib, base::Get64(e));
  }, "lcbTotal 9001");
  auto reseal_header = [](Bytes& b) {
    base::Put32(b.data() + 4, ndb::Crc32(std::span(b).subspan(8, 471)));
    base::Put32(b.data() + 524, ndb::Crc32(std::span(b).subspan(8, 516)));
  };
  ExpectNamed("bid-next-b", [&](Bytes& b) {
    base::Put64(b.data() + 516, 8);  // below blocks in use
    reseal_header(b);
  }, "bidNextB 0x8 is not above");
  auto leak_last_slot = [&](Bytes& b) {
    std::uint64_t last_slot = ndb::kSlotsPerInterval - 1;
    b[ndb::kFirstAMapOffset + last_slot / 8] |= static_cast<std::uint8_t>(0x80u >> (last_slot % 8));
    Reseal(b, ndb::kFirstAMapOffset, ndb::kPageAMap);
  };
  ExpectNamed("amap-leak", [&](Bytes& b) {
    leak_last_slot(b);
    base::Put64(b.data() + 200, base::Get64(b.data() + 200) - ndb::kSlotSize);  // cbAMapFree in step
    reseal_header(b);
  }, "nothing references", check::Severity::kNote);
  ExpectNamed("amap-free-total", leak_last_slot, "cbAMapFree");
  ExpectNamed("amap-valid1", [&](Bytes& b) {
    b[248] = 1;
    reseal_header(b);
  }, "not VALID_AMAP2");
  // Maps declared invalid (a commit cut short) are not held against the file, whatever
  // state the interrupted rewrite left them in.
  ExpectNamed("amap-declared-invalid", [&](Bytes& b) {
    b[248] = ndb::kAMapInvalid;
    reseal_header(b);
    std::fill_n(b.begin() + static_cast<long>(ndb::kFirstAMapOffset), 300, 0);
  }, "declared invalid", check::Severity::kNote);
}

}  // namespace
}  // namespace mailvane::pst
