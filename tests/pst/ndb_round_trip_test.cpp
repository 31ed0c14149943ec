// The node database written, committed, reopened and read back: data of every size in each
// encoding, refusals, B-trees under churn, commits that rewrite only what
// changed, and libpff reading every node on its own. (Subnode trees past one block are read
// back with the 100,000-row table of the contexts test.)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "base/little_endian.h"
#include "pst/ndb/crc32.h"
#include "pst/ndb/crypt.h"
#include "pst/ndb/format_error.h"
#include "pst/ndb/node_database.h"
#include "pst/pst_test_support.h"

namespace mailvane::pst {
namespace {

using testing::ExpectNdbClean;
using testing::Pattern;
using testing::ScratchDir;

TEST(NdbRoundTrip, DataOfEverySizeReadsBackAfterReopenInEachEncoding) {
  ScratchDir dir;
  // 8176 is one full block, 8177 needs an XBLOCK, 1021 full blocks and a byte an XXBLOCK.
  const std::vector<std::size_t> all_sizes = {0, 1, 63, 64, 8175, 8176, 8177, 100000, 8176 * 1021 + 1};
  const std::string text = "plain text that must not appear as it is";
  for (ndb::CryptMethod crypt : {ndb::CryptMethod::kPermute, ndb::CryptMethod::kNone, ndb::CryptMethod::kCyclic}) {
    std::vector<std::size_t> sizes = all_sizes;
    if (crypt != ndb::CryptMethod::kPermute) sizes.pop_back();  // keep the run short
    const auto path = dir / ("crypt" + std::to_string(static_cast<int>(crypt)) + ".pst");
    std::vector<ndb::Nid> nids;
    {
      auto db = ndb::NodeDatabase::Create(path, crypt);
      for (std::size_t i = 0; i < sizes.size(); ++i) {
        nids.push_back(db->AllocateNid(ndb::NidType::kNormalMessage));
        const ndb::Bid bid = db->WriteData(Pattern(sizes[i], static_cast<std::uint32_t>(i)));
        EXPECT_EQ(bid == 0, sizes[i] == 0);
        EXPECT_EQ(db->DataSize(bid), sizes[i]);
        db->PutNode({nids[i], bid, 0, ndb::kNidRootFolder});
      }
      const ndb::Bid plain = db->WriteBlock({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
      db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage), plain, 0, 0});
      db->Close();
      EXPECT_THROW(db->Commit(), ndb::FormatError);
    }
    ExpectNdbClean(path);
    EXPECT_EQ(testsupport::ReadFile(path).find(text) == std::string::npos, crypt != ndb::CryptMethod::kNone);
    auto db = ndb::NodeDatabase::Open(path, false);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      auto node = db->FindNode(nids[i]);
      ASSERT_TRUE(node) << sizes[i];
      EXPECT_EQ(node->parent, ndb::kNidRootFolder);
      EXPECT_EQ(db->ReadData(node->data), Pattern(sizes[i], static_cast<std::uint32_t>(i)))
          << "size " << sizes[i] << " crypt " << static_cast<int>(crypt);
    }
    EXPECT_THROW(db->WriteBlock(Pattern(10, 1)), ndb::FormatError);  // read-only
  }
}

TEST(NdbRoundTrip, BadRequestsAreRefusedWithAReason) {
  ScratchDir dir;
  const auto path = dir / "bad.pst";
  auto db = ndb::NodeDatabase::Create(path);
  EXPECT_THROW(db->WriteBlock(Pattern(ndb::kMaxBlockData + 1, 1)), ndb::FormatError);
  EXPECT_THROW(db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage), 0x1234, 0, 0}), ndb::FormatError);
  EXPECT_THROW(db->DeleteNode(0x4444), ndb::FormatError);
  const ndb::Bid one = db->WriteBlock(Pattern(10, 1));
  EXPECT_THROW(db->WriteDataTree(std::vector<ndb::Bid>{one}, 11), ndb::FormatError);
  EXPECT_THROW(ndb::NodeDatabase::Create(path), std::system_error);  // never overwrites
  EXPECT_THROW(ndb::NodeDatabase::Open(dir / "missing.pst", false), std::system_error);
}

std::vector<std::uint8_t> Body(std::uint32_t seed) { return Pattern(20 + seed % 300, seed); }

void ExpectSame(ndb::NodeDatabase& db, const std::map<ndb::Nid, std::uint32_t>& model, int round) {
  std::size_t count = 0;
  db.ForEachNode([&](const ndb::NodeEntry&) { ++count; });
  ASSERT_EQ(count, model.size()) << "round " << round;
  for (const auto& [nid, seed] : model) {
    auto node = db.FindNode(nid);
    ASSERT_TRUE(node) << "round " << round << " nid " << nid;
    ASSERT_EQ(db.ReadData(node->data), Body(seed)) << "round " << round << " nid " << nid;
  }
}

std::uint64_t NextPageBid(const std::filesystem::path& path) {
  const std::string header = testsupport::ReadFile(path).substr(0, 40);
  return base::Get64(reinterpret_cast<const std::uint8_t*>(header.data()) + 32);
}

// A commit rewrites only the B-tree pages on the changed paths, and later commits of
// changes all over trees larger than the page cache, before and after a reopen, keep them
// sound and hand out only fresh NIDs; libpff then finds
// every node on its own through our header, NBT and BBT (nodes without a folder are orphans).
TEST(NdbBtree, CommitRewritesOnlyTheChangedPathsAndPypffFindsEveryNode) {
  ScratchDir dir;
  const auto path = dir / "incremental.pst";
  constexpr std::uint32_t kNodes = 20000;
  auto db = ndb::NodeDatabase::Create(path);
  std::vector<ndb::Nid> nids;
  for (std::uint32_t i = 0; i < kNodes; ++i) {
    nids.push_back(db->AllocateNid(ndb::NidType::kNormalMessage));
    db->PutNode({nids.back(), db->WriteBlock(Body(i)), 0, 0x8022});
  }
  db->Commit();
  const std::uint64_t before = NextPageBid(path);
  // One node in the middle gets new data: its NBT leaf, the BBT leaves of the new and the
  // old block (the new one may split the last leaf), and their ancestors, four levels
  // each, are all that must be written, out of some 2,400 pages.
  db->PutNode({nids[10000], db->WriteBlock(Body(1)), 0, 0x8022});
  db->Commit();
  const std::uint64_t written = NextPageBid(path) - before;
  EXPECT_GT(written, 0u);
  EXPECT_LE(written, 16u);
  db->Commit();  // nothing changed: no page at all
  EXPECT_EQ(NextPageBid(path) - before, written);
  // Rounds of shared blocks, replaced data and deleted nodes spread over trees far larger
  // than the page cache: the pages changed are read back, the rest stays on disk.
  std::map<ndb::Nid, std::uint32_t> model;
  for (std::uint32_t i = 0; i < kNodes; ++i) model[nids[i]] = i == 10000 ? 1 : i;
  std::uint32_t seed = kNodes;
  std::set<ndb::Nid> ever(nids.begin(), nids.end());
  for (std::uint32_t round = 0; round < 4; ++round) {
    if (round == 2) {  // the trees read back from the file must take further changes
      db->Close();
      db = ndb::NodeDatabase::Open(path, true);
    }
    for (int k = 0; k < 200; ++k) {  // other types' NIDs land between the keys
      const ndb::Nid nid = db->AllocateNid(k % 2 ? ndb::NidType::kAssocMessage : ndb::NidType::kNormalMessage);
      ASSERT_TRUE(ever.insert(nid).second) << "NID " << nid << " handed out twice";
      db->PutNode({nid, db->WriteBlock(Body(++seed)), 0, 0x8022});
      model[nid] = seed;
    }
    for (std::uint32_t i = round; i < kNodes; i += 37) {
      const ndb::Nid a = nids[i], b = nids[(i + kNodes / 2) % kNodes];
      if (!model.contains(a) || !model.contains(b)) continue;
      const ndb::Bid shared = db->FindNode(a)->data;
      if (i % 3 == 0) {  // b takes a second reference to a's block and drops its own
        if (db->FindNode(b)->data == shared) continue;
        db->AddRef(shared);
        db->PutNode({b, shared, 0, 0x8022});
        model[b] = model[a];
      } else if (i % 3 == 1) {
        db->PutNode({a, db->WriteBlock(Body(++seed)), 0, 0x8022});
        model[a] = seed;
      } else {
        db->DeleteNode(a);
        model.erase(a);
      }
    }
    db->Commit();
    const auto findings = check::CheckNodeDatabase(path);
    ASSERT_FALSE(check::HasErrors(findings)) << "round " << round << "\n" << testing::Describe(findings);
    ExpectSame(*db, model, static_cast<int>(round));
  }
  db->Close();
  ExpectNdbClean(path);
  ExpectSame(*ndb::NodeDatabase::Open(path, false), model, 4);
  if (!testsupport::HavePypff()) GTEST_SKIP() << "python3-pypff is not installed";
  const auto run = testsupport::RunCommand(
      {"/usr/bin/python3", "-c",
       "import pypff, sys\nf = pypff.file()\nf.open(sys.argv[1])\nprint(f.number_of_orphan_items, f.encryption_type)\n",
       path.string()});
  EXPECT_EQ(run.out, std::to_string(model.size()) + " 1\n") << run.err;  // 1: "compressible"
}

std::uint32_t Bytewise(std::span<const std::uint8_t> data, std::uint32_t crc) {
  for (std::uint8_t b : data) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return crc;
}

TEST(NdbCrc32, IsThePstVariantAndTheFastPathAgreesForEveryLengthAndOffset) {
  const std::string_view check = "123456789";
  // Initial value 0 and no final xor: not zlib's 0xCBF43926.
  EXPECT_EQ(ndb::Crc32({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}), 0x2DFD2D88u);
  // Short pieces at odd offsets and lengths, and whole blocks, which take the wide path.
  const std::vector<std::uint8_t> data = Pattern(8200, 3);
  std::vector<std::pair<std::size_t, std::size_t>> pieces;
  for (std::size_t n = 0; n <= 100; ++n) pieces.emplace_back(n % 7, n / 2 + n % 5);
  for (std::size_t n : {255u, 256u, 1000u, 8176u, 8192u}) pieces.emplace_back(n % 3, n);
  EXPECT_EQ(ndb::Crc32({}, 0x12345678u), 0x12345678u);  // nothing to add: the seed
  for (auto [offset, length] : pieces) {
    auto piece = std::span(data).subspan(offset, length);
    EXPECT_EQ(ndb::Crc32(piece, 0x12345678u), Bytewise(piece, 0x12345678u)) << offset << "+" << length;
    EXPECT_EQ(ndb::Crc32(piece), Bytewise(piece, 0)) << offset << "+" << length;
  }
}

// The permutation is done 32 bytes at a time where the processor can: every length and
// offset must give, byte for byte, what the table gives one byte at a time.
TEST(NdbCrypt, PermuteEncodesEveryByteAsTheTableDoesAtEveryLength) {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    std::uint8_t one = static_cast<std::uint8_t>(b);
    ndb::EncodeBlockData(ndb::CryptMethod::kPermute, 0, std::span(&one, 1));
    table[b] = one;
  }
  EXPECT_EQ((std::array<int, 4>{table[0], table[1], table[2], table[3]}), (std::array<int, 4>{0x41, 0x36, 0x13, 0x62}));
  std::vector<std::uint8_t> data(8200);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  for (std::size_t n : {0u, 1u, 31u, 32u, 33u, 95u, 256u, 8176u}) {
    for (std::size_t offset : {0u, 3u}) {
      std::vector<std::uint8_t> piece(data.begin() + offset, data.begin() + offset + n);
      ndb::EncodeBlockData(ndb::CryptMethod::kPermute, 0, piece);
      for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(piece[i], table[data[offset + i]]) << n << " " << i;
      ndb::DecodeBlockData(ndb::CryptMethod::kPermute, 0, piece);
      EXPECT_TRUE(std::equal(piece.begin(), piece.end(), data.begin() + offset)) << n;
    }
  }
}

}  // namespace
}  // namespace mailvane::pst
