// The block index against a std::map on the same random mix of appends, inserts below the
// top, replacements and erasures, across run splits and emptied runs.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "pst/ndb/block_index.h"

namespace mailvane::pst::ndb {
namespace {

TEST(BlockIndex, AgreesWithAnOrderedMap) {
  std::mt19937_64 rng(11);
  ndb::BlockIndex index;
  std::map<std::uint64_t, ndb::BlockInfo> oracle;
  std::uint64_t next = 4;
  for (int step = 0; step < 60000; ++step) {
    const int what = static_cast<int>(rng() % 10);
    std::uint64_t bid = 0;
    if (what < 6 || oracle.empty()) {
      bid = (next += 4);  // new BIDs grow
    } else if (what < 8) {
      bid = (rng() % next) & ~std::uint64_t{3};  // anywhere below, present or not
    } else {
      auto it = oracle.lower_bound(rng() % next);
      if (it == oracle.end()) it = oracle.begin();
      ASSERT_TRUE(index.Erase(it->first));
      oracle.erase(it);
      continue;
    }
    const ndb::BlockInfo info{rng(), static_cast<std::uint16_t>(rng()), static_cast<std::uint16_t>(rng())};
    index.Put(bid, info);
    oracle[bid] = info;
  }
  ASSERT_EQ(index.size(), oracle.size());
  EXPECT_FALSE(index.Erase(1));
  EXPECT_EQ(index.Find(1), nullptr);
  std::vector<std::uint64_t> seen;
  index.ForEachFrom(0, [&](const ndb::BlockIndex::Entry& e) {
    seen.push_back(e.bid);
    const auto& want = oracle.at(e.bid);
    EXPECT_EQ(e.info.ib, want.ib);
    EXPECT_EQ(e.info.cref, want.cref);
    return true;
  });
  ASSERT_EQ(seen.size(), oracle.size());
  EXPECT_TRUE(std::equal(seen.begin(), seen.end(), oracle.begin(),
                         [](std::uint64_t a, const auto& b) { return a == b.first; }));
  for (int probe = 0; probe < 2000; ++probe) {
    const std::uint64_t lower = rng() % next;
    const auto it = oracle.lower_bound(lower);
    const auto left = static_cast<std::size_t>(std::distance(it, oracle.end()));
    if (left == 0) continue;
    const std::size_t n = rng() % std::min<std::size_t>(left, 600);
    EXPECT_EQ(index.NthFrom(lower, n), std::next(it, static_cast<long>(n))->first);
    EXPECT_EQ(index.Find(it->first)->ib, it->second.ib);
  }
}

}  // namespace
}  // namespace mailvane::pst::ndb
