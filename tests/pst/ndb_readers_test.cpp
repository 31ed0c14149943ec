// An independent reader (libpff through python3-pypff) must find every node we wrote: it
// reads our header, NBT and BBT on its own. Nodes without a folder show as orphan items.
#include <gtest/gtest.h>

#include "ndb_test_util.h"
#include "pst/ndb/node_database.h"
#include "support/pst_readers.h"

namespace mailvane::pst {
namespace {

TEST(NdbReaders, PypffFindsEveryNodeInADeepTree) {
  if (!testsupport::HavePypff()) GTEST_SKIP() << "python3-pypff is not installed";
  auto path = ndb_testing::FreshDir("") / "orphans.pst";
  constexpr int kNodes = 700;  // an NBT of three levels
  {
    auto db = ndb::NodeDatabase::Create(path);
    for (int i = 0; i < kNodes; ++i) {
      db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage),
                   db->WriteData(ndb_testing::Pattern(100 + i * 13, static_cast<std::uint32_t>(i))),
                   0, 0x8022});
      if (i % 250 == 0) db->Commit();
    }
    db->Close();
  }
  auto run = testsupport::RunCommand(
      {"/usr/bin/python3", "-c",
       "import pypff, sys\n"
       "f = pypff.file()\n"
       "f.open(sys.argv[1])\n"
       "print(f.number_of_orphan_items, f.encryption_type)\n",
       path.string()});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, std::to_string(kNodes) + " 1\n") << run.err;  // 1: "compressible"
}

}  // namespace
}  // namespace mailvane::pst
