// The B-trees under churn: inserts, replacements and deletes over many commits and a
// reopen must keep them sound and complete, and a commit must rewrite only what changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>

#include "ndb_test_util.h"
#include "pst/check/ndb_check.h"
#include "pst/ndb/layout.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst {
namespace {

using ndb_testing::Describe;
using ndb_testing::Pattern;

std::vector<std::uint8_t> Body(std::uint32_t seed) { return Pattern(20 + seed % 300, seed); }

void ExpectSame(NodeDatabase& db, const std::map<Nid, std::uint32_t>& model, int round) {
  std::size_t count = 0;
  db.ForEachNode([&](const NodeEntry&) { ++count; });
  ASSERT_EQ(count, model.size()) << "round " << round;
  for (const auto& [nid, seed] : model) {
    auto node = db.FindNode(nid);
    ASSERT_TRUE(node) << "round " << round << " nid " << nid;
    ASSERT_EQ(db.ReadData(node->data), Body(seed)) << "round " << round << " nid " << nid;
  }
}

TEST(NdbBtree, ChurnOverCommitsAndReopenKeepsTreesSound) {
  auto path = ndb_testing::FreshDir("") / "churn.pst";
  std::mt19937 random(7);
  std::map<Nid, std::uint32_t> model;
  std::uint32_t seed = 0;
  auto db = NodeDatabase::Create(path);
  for (int round = 0; round < 24; ++round) {
    if (round == 12) {  // the layout read back from the file must take further changes
      db->Close();
      db = NodeDatabase::Open(path, true);
      ExpectSame(*db, model, round);
    }
    int inserts = round < 16 ? static_cast<int>(random() % 400) : 0;
    for (int i = 0; i < inserts; ++i) {
      // NIDs of several types, so new keys land between existing ones.
      auto type = (random() % 2) ? NidType::kNormalMessage : NidType::kNormalFolder;
      Nid nid = db->AllocateNid(type);
      db->PutNode({nid, db->WriteData(Body(++seed)), 0, kNidRootFolder});
      model[nid] = seed;
    }
    std::vector<Nid> keys;
    for (const auto& [nid, s] : model) keys.push_back(nid);
    std::shuffle(keys.begin(), keys.end(), random);
    std::size_t deletes = round < 16 ? keys.size() / 3 : keys.size() / 2 + 1;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (i < deletes) {
        db->DeleteNode(keys[i]);
        model.erase(keys[i]);
      } else if (i < deletes + 20) {
        db->PutNode({keys[i], db->WriteData(Body(++seed)), 0, kNidRootFolder});
        model[keys[i]] = seed;
      }
    }
    db->Commit();
    auto findings = CheckNodeDatabase(path);
    ASSERT_FALSE(HasErrors(findings)) << "round " << round << "\n" << Describe(findings);
    ExpectSame(*db, model, round);
  }
  EXPECT_TRUE(model.empty());
  db->Close();
  ndb_testing::ExpectClean(path);
  db = NodeDatabase::Open(path, false);
  ExpectSame(*db, model, 99);
}

std::uint64_t NextPageBid(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::uint8_t b[40];
  in.read(reinterpret_cast<char*>(b), sizeof b);
  return ndb::Get64(b + 32);
}

TEST(NdbBtree, CommitRewritesOnlyTheChangedPaths) {
  auto path = ndb_testing::FreshDir("") / "incremental.pst";
  auto db = NodeDatabase::Create(path);
  std::vector<Nid> nids;
  for (std::uint32_t i = 0; i < 20000; ++i) {
    nids.push_back(db->AllocateNid(NidType::kNormalMessage));
    db->PutNode({nids.back(), db->WriteBlock(Body(i)), 0, 0});
  }
  db->Commit();
  std::uint64_t before = NextPageBid(path);
  // One node in the middle gets new data: its NBT leaf, the BBT leaves of the new and the
  // old block (the new one may split the last leaf), and their ancestors, four levels
  // each, are all that must be written, out of some 2,400 pages.
  db->PutNode({nids[10000], db->WriteBlock(Body(1)), 0, 0});
  db->Commit();
  std::uint64_t written = NextPageBid(path) - before;
  EXPECT_GT(written, 0u);
  EXPECT_LE(written, 16u);
  db->Commit();  // nothing changed: no page at all
  EXPECT_EQ(NextPageBid(path) - before, written);
  db->Close();
  ndb_testing::ExpectClean(path);
}

}  // namespace
}  // namespace mailvane::pst
