// The B-trees under churn: inserts, replacements and deletes over many commits and a
// reopen must keep them sound and complete, and a commit must rewrite only what changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>

#include "base/little_endian.h"
#include "ndb_test_util.h"
#include "pst/check/ndb_check.h"
#include "pst/ndb/layout.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst {
namespace {

using ndb_testing::Describe;
using ndb_testing::Pattern;

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

TEST(NdbBtree, ChurnOverCommitsAndReopenKeepsTreesSound) {
  auto path = ndb_testing::FreshDir("") / "churn.pst";
  std::mt19937 random(7);
  std::map<ndb::Nid, std::uint32_t> model;
  std::uint32_t seed = 0;
  auto db = ndb::NodeDatabase::Create(path);
  for (int round = 0; round < 24; ++round) {
    if (round == 12) {  // the layout read back from the file must take further changes
      db->Close();
      db = ndb::NodeDatabase::Open(path, true);
      ExpectSame(*db, model, round);
    }
    int inserts = round < 16 ? static_cast<int>(random() % 400) : 0;
    for (int i = 0; i < inserts; ++i) {
      // NIDs of several types, so new keys land between existing ones.
      auto type = (random() % 2) ? ndb::NidType::kNormalMessage : ndb::NidType::kNormalFolder;
      ndb::Nid nid = db->AllocateNid(type);
      db->PutNode({nid, db->WriteData(Body(++seed)), 0, ndb::kNidRootFolder});
      model[nid] = seed;
    }
    std::vector<ndb::Nid> keys;
    for (const auto& [nid, s] : model) keys.push_back(nid);
    std::shuffle(keys.begin(), keys.end(), random);
    std::size_t deletes = round < 16 ? keys.size() / 3 : keys.size() / 2 + 1;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (i < deletes) {
        db->DeleteNode(keys[i]);
        model.erase(keys[i]);
      } else if (i < deletes + 20) {
        db->PutNode({keys[i], db->WriteData(Body(++seed)), 0, ndb::kNidRootFolder});
        model[keys[i]] = seed;
      }
    }
    db->Commit();
    auto findings = check::CheckNodeDatabase(path);
    ASSERT_FALSE(check::HasErrors(findings)) << "round " << round << "\n" << Describe(findings);
    ExpectSame(*db, model, round);
  }
  EXPECT_TRUE(model.empty());
  db->Close();
  ndb_testing::ExpectClean(path);
  db = ndb::NodeDatabase::Open(path, false);
  ExpectSame(*db, model, 99);
}

std::uint64_t NextPageBid(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::uint8_t b[40];
  in.read(reinterpret_cast<char*>(b), sizeof b);
  return base::Get64(b + 32);
}

TEST(NdbBtree, CommitRewritesOnlyTheChangedPaths) {
  auto path = ndb_testing::FreshDir("") / "incremental.pst";
  auto db = ndb::NodeDatabase::Create(path);
  std::vector<ndb::Nid> nids;
  for (std::uint32_t i = 0; i < 20000; ++i) {
    nids.push_back(db->AllocateNid(ndb::NidType::kNormalMessage));
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
