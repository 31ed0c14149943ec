#include "pst/ndb/node_database.h"

#include <gtest/gtest.h>

#include <numeric>

#include "ndb_test_util.h"
#include "pst/ndb/format_error.h"

namespace mailvane::pst {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return v;
}

TEST(NdbRoundTrip, DataOfEverySizeReadsBackAfterReopen) {
  auto dir = testing::FreshDir("");
  auto path = dir / "sizes.pst";
  const std::vector<std::size_t> sizes = {0, 1, 63, 64, 8175, 8176, 8177, 16352, 100000,
                                          8176 * 1021, 8176 * 1021 + 1};
  std::vector<Nid> nids;
  {
    auto db = NodeDatabase::Create(path);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      Nid nid = db->AllocateNid(NidType::kNormalMessage);
      nids.push_back(nid);
      Bid bid = db->WriteData(Pattern(sizes[i], static_cast<std::uint32_t>(i)));
      EXPECT_EQ(db->DataSize(bid), sizes[i]);
      db->PutNode({nid, bid, 0, kNidRootFolder});
    }
    db->Close();
  }
  auto db = NodeDatabase::Open(path, false);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    auto node = db->FindNode(nids[i]);
    ASSERT_TRUE(node) << sizes[i];
    EXPECT_EQ(node->parent, kNidRootFolder);
    EXPECT_EQ(db->ReadData(node->data), Pattern(sizes[i], static_cast<std::uint32_t>(i)))
        << "size " << sizes[i];
  }
}

}  // namespace
}  // namespace mailvane::pst
