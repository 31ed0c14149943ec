#include "pst/ndb/node_database.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "ndb_test_util.h"
#include "pst/check/ndb_check.h"
#include "pst/ndb/format_error.h"
#include "pst/ndb/pst_node_database.h"

namespace mailvane::pst {
namespace {

using ndb_testing::ExpectClean;
using ndb_testing::FreshDir;
using ndb_testing::Pattern;

class RemoveScratch : public ::testing::Environment {
 public:
  void TearDown() override { std::filesystem::remove_all(ndb_testing::ScratchRoot()); }
};
const auto* const kRemoveScratch = ::testing::AddGlobalTestEnvironment(new RemoveScratch);

const ndb::BlockInfo* Info(ndb::NodeDatabase& db, ndb::Bid bid) {
  return dynamic_cast<ndb::PstNodeDatabase&>(db).FindBlock(bid);
}

TEST(NdbRoundTrip, DataOfEverySizeReadsBackAfterReopenInEachEncoding) {
  // 8176 is one full block, 8177 needs an XBLOCK, 1021 full blocks and a byte an XXBLOCK.
  const std::vector<std::size_t> all_sizes = {0, 1, 63, 64, 8175, 8176, 8177, 100000,
                                              8176 * 1021 + 1};
  for (ndb::CryptMethod crypt : {ndb::CryptMethod::kPermute, ndb::CryptMethod::kNone, ndb::CryptMethod::kCyclic}) {
    std::vector<std::size_t> sizes = all_sizes;
    if (crypt != ndb::CryptMethod::kPermute) sizes.resize(sizes.size() - 1);  // keep the run short
    auto path = FreshDir("") / ("crypt" + std::to_string(static_cast<int>(crypt)) + ".pst");
    std::vector<ndb::Nid> nids;
    {
      auto db = ndb::NodeDatabase::Create(path, crypt);
      for (std::size_t i = 0; i < sizes.size(); ++i) {
        ndb::Nid nid = db->AllocateNid(ndb::NidType::kNormalMessage);
        nids.push_back(nid);
        ndb::Bid bid = db->WriteData(Pattern(sizes[i], static_cast<std::uint32_t>(i)));
        EXPECT_EQ(bid == 0, sizes[i] == 0);
        EXPECT_EQ(db->DataSize(bid), sizes[i]);
        db->PutNode({nid, bid, 0, ndb::kNidRootFolder});
      }
      db->Close();
      EXPECT_THROW(db->Commit(), ndb::FormatError);
    }
    ExpectClean(path);
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

TEST(NdbRoundTrip, DataTreesSwitchToXxblockAfter1021Leaves) {
  auto path = FreshDir("") / "leaves.pst";
  std::vector<ndb::Nid> nids;
  {
    auto db = ndb::NodeDatabase::Create(path);
    for (std::size_t count : {2u, 1021u, 1022u, 2043u}) {
      std::vector<ndb::Bid> leaves;
      for (std::size_t i = 0; i < count; ++i) {
        leaves.push_back(db->WriteBlock(Pattern(1 + i % 3, static_cast<std::uint32_t>(i))));
      }
      std::uint64_t total = 0;
      for (std::size_t i = 0; i < count; ++i) total += 1 + i % 3;
      ndb::Bid tree = db->WriteDataTree(leaves, total);
      EXPECT_EQ(db->DataLeaves(tree), leaves);
      EXPECT_EQ(db->DataSize(tree), total);
      nids.push_back(db->AllocateNid(ndb::NidType::kNormalMessage));
      db->PutNode({nids.back(), tree, 0, 0});
    }
    db->Close();
  }
  ExpectClean(path);
  auto db = ndb::NodeDatabase::Open(path, false);
  std::vector<std::uint8_t> expected;
  for (std::size_t i = 0; i < 2043; ++i) {
    auto piece = Pattern(1 + i % 3, static_cast<std::uint32_t>(i));
    expected.insert(expected.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(db->ReadData(db->FindNode(nids.back())->data), expected);
}

TEST(NdbRoundTrip, PermuteEncodesBlockBytesOnDisk) {
  auto path = FreshDir("") / "permute.pst";
  const std::string text = "plain text that must not appear as it is";
  {
    auto db = ndb::NodeDatabase::Create(path);
    ndb::Bid bid = db->WriteBlock({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage), bid, 0, 0});
    db->Close();
  }
  std::ifstream in(path, std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all.find(text), std::string::npos);
}

TEST(NdbSubnodes, LargeTreesUseSiblocksAndComeBackSorted) {
  auto path = FreshDir("") / "subnodes.pst";
  std::vector<ndb::Nid> parents;
  {
    auto db = ndb::NodeDatabase::Create(path);
    for (std::size_t count : {1u, 340u, 341u, 2000u}) {
      std::vector<ndb::SubnodeEntry> entries;
      for (std::size_t i = 0; i < count; ++i) {
        // Reverse order on input; the tree must be sorted.
        ndb::Nid nid = ndb::MakeNid(ndb::NidType::kLtp, static_cast<std::uint32_t>(count - i));
        entries.push_back({nid, db->WriteBlock(Pattern(20, static_cast<std::uint32_t>(i))), 0});
      }
      ndb::Bid tree = db->WriteSubnodeTree(entries);
      ndb::Nid parent = db->AllocateNid(ndb::NidType::kNormalMessage);
      parents.push_back(parent);
      db->PutNode({parent, db->WriteBlock(Pattern(5, 5)), tree, 0});
    }
    EXPECT_EQ(db->WriteSubnodeTree({}), 0u);
    ndb::SubnodeEntry twice{ndb::MakeNid(ndb::NidType::kLtp, 1), 0, 0};
    EXPECT_THROW(db->WriteSubnodeTree({twice, twice}), ndb::FormatError);
    db->Close();
  }
  ExpectClean(path);
  auto db = ndb::NodeDatabase::Open(path, false);
  const std::size_t counts[] = {1, 340, 341, 2000};
  for (std::size_t p = 0; p < parents.size(); ++p) {
    auto subs = db->ReadSubnodes(db->FindNode(parents[p])->subnodes);
    ASSERT_EQ(subs.size(), counts[p]);
    EXPECT_TRUE(std::is_sorted(subs.begin(), subs.end(),
                               [](const auto& a, const auto& b) { return a.nid < b.nid; }));
    EXPECT_EQ(db->ReadBlock(subs.back().data), Pattern(20, 0));
  }
}

TEST(NdbReferences, SharedBlocksLiveUntilTheLastUserAndSpaceIsReusedAfterCommit) {
  auto path = FreshDir("") / "refs.pst";
  auto db = ndb::NodeDatabase::Create(path);
  ndb::Bid shared = db->WriteBlock(Pattern(100, 1));
  db->AddRef(shared);
  ndb::Nid a = db->AllocateNid(ndb::NidType::kNormalMessage);
  ndb::Nid b = db->AllocateNid(ndb::NidType::kNormalMessage);
  db->PutNode({a, shared, 0, 0});
  db->PutNode({b, shared, 0, 0});
  std::vector<ndb::SubnodeEntry> subs = {{ndb::MakeNid(ndb::NidType::kLtp, 1), db->WriteData(Pattern(9000, 2)), 0}};
  ndb::Bid tree = db->WriteSubnodeTree(subs);
  db->PutNode({b, shared, tree, 0});  // same data: no reference changes hands
  db->Commit();
  EXPECT_EQ(Info(*db, shared)->cref, 3);
  const std::uint64_t shared_ib = Info(*db, shared)->ib;
  const std::size_t blocks_before = dynamic_cast<ndb::PstNodeDatabase&>(*db).block_count();

  db->DeleteNode(a);
  EXPECT_EQ(db->ReadBlock(shared), Pattern(100, 1));
  db->DeleteNode(b);  // frees the shared block and the whole subnode tree below it
  EXPECT_EQ(Info(*db, shared), nullptr);
  EXPECT_EQ(dynamic_cast<ndb::PstNodeDatabase&>(*db).block_count(), blocks_before - 5);
  EXPECT_THROW(db->Release(shared), ndb::FormatError);

  // Until the next commit the committed header still reaches that space; after it, the
  // space is handed out again.
  auto lands_on_freed_space = [&]() {
    bool hit = false;
    for (std::uint32_t i = 0; i < 40; ++i) {
      ndb::Bid bid = db->WriteBlock(Pattern(100, i));
      hit = hit || Info(*db, bid)->ib == shared_ib;
      db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage), bid, 0, 0});
    }
    return hit;
  };
  EXPECT_FALSE(lands_on_freed_space());
  db->Commit();
  EXPECT_TRUE(lands_on_freed_space());
  db->Close();
  ExpectClean(path);
}

TEST(NdbReopen, WritingContinuesWithFreshIdsAndNothingLost) {
  auto path = FreshDir("") / "reopen.pst";
  ndb::Nid first = 0;
  ndb::Bid first_bid = 0;
  {
    auto db = ndb::NodeDatabase::Create(path);
    first = db->AllocateNid(ndb::NidType::kNormalFolder);
    EXPECT_EQ(first, 0x8022u);  // the first folder NID of an Outlook file
    first_bid = db->WriteData(Pattern(50, 1));
    db->PutNode({first, first_bid, 0, ndb::kNidRootFolder});
    db->Close();
  }
  for (int round = 0; round < 3; ++round) {
    auto db = ndb::NodeDatabase::Open(path, true);
    ndb::Nid next = db->AllocateNid(ndb::NidType::kNormalFolder);
    EXPECT_GT(next, first);
    ndb::Bid bid = db->WriteData(Pattern(50, 2));
    EXPECT_GT(bid, first_bid);
    db->PutNode({next, bid, 0, first});
    db->PutNode({first, db->WriteData(Pattern(60, static_cast<std::uint32_t>(round))), 0,
                 ndb::kNidRootFolder});
    db->Close();
    ExpectClean(path);
  }
  auto db = ndb::NodeDatabase::Open(path, false);
  std::size_t count = 0;
  db->ForEachNode([&](const ndb::NodeEntry&) { ++count; });
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(db->ReadData(db->FindNode(first)->data), Pattern(60, 2));
}

TEST(NdbRefusals, BadRequestsRaiseWithAReason) {
  auto path = FreshDir("") / "bad.pst";
  auto db = ndb::NodeDatabase::Create(path);
  EXPECT_THROW(db->WriteBlock(Pattern(ndb::kMaxBlockData + 1, 1)), ndb::FormatError);
  EXPECT_THROW(db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage), 0x1234, 0, 0}),
               ndb::FormatError);
  EXPECT_THROW(db->DeleteNode(0x4444), ndb::FormatError);
  ndb::Bid one = db->WriteBlock(Pattern(10, 1));
  EXPECT_THROW(db->WriteDataTree(std::vector<ndb::Bid>{one}, 11), ndb::FormatError);
  EXPECT_THROW(ndb::NodeDatabase::Create(path), std::system_error);  // never overwrites
  EXPECT_THROW(ndb::NodeDatabase::Open(FreshDir("") / "missing.pst", false), std::system_error);
}

TEST(NdbRefusals, AnsiFileIsRefusedClearly) {
  auto dir = ndb_testing::ReferenceDir();
  if (!dir) GTEST_SKIP() << "reference files are not there";
  try {
    ndb::NodeDatabase::Open(*dir / "sample2.pst", false);
    ADD_FAILURE() << "an ANSI file opened";
  } catch (const ndb::FormatError& e) {
    EXPECT_NE(std::string(e.what()).find("ANSI (Outlook 97-2002)"), std::string::npos) << e.what();
  }
}

TEST(NdbScale, HundredThousandNodesRoundTrip) {
  auto path = FreshDir("") / "many.pst";
  constexpr std::uint32_t kNodes = 100000;
  auto start = std::chrono::steady_clock::now();
  {
    auto db = ndb::NodeDatabase::Create(path);
    for (std::uint32_t i = 0; i < kNodes; ++i) {
      std::vector<std::uint8_t> body = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                                        static_cast<std::uint8_t>(i >> 16), 0x55};
      ndb::Nid nid = db->AllocateNid(ndb::NidType::kNormalMessage);
      db->PutNode({nid, db->WriteBlock(body), 0, 0x8022});
      if (i % 20000 == 19999) db->Commit();
    }
    db->Close();
  }
  auto written = std::chrono::steady_clock::now();
  auto findings = check::CheckNodeDatabase(path);
  EXPECT_FALSE(check::HasErrors(findings)) << ndb_testing::Describe(findings);
  auto db = ndb::NodeDatabase::Open(path, false);
  std::uint32_t i = 0;
  db->ForEachNode([&](const ndb::NodeEntry& n) {
    if (i % 997 == 0) {
      EXPECT_EQ(db->ReadBlock(n.data)[1], static_cast<std::uint8_t>(i >> 8));
    }
    ++i;
  });
  EXPECT_EQ(i, kNodes);
  std::cout << "100000 nodes written in "
            << std::chrono::duration<double>(written - start).count() << " s, checked and read in "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() - written).count()
            << " s\n";
}

}  // namespace
}  // namespace mailvane::pst
