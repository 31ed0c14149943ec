// A write or flush that fails must not leave a half-committed file behind, nor let the
// engine go on as if nothing happened.
#include <gtest/gtest.h>

#include <system_error>

#include "ndb_test_util.h"
#include "pst/check/ndb_check.h"
#include "pst/ndb/file_io.h"
#include "pst/ndb/format_error.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst {
namespace {

// Passes everything through to a real file until the budget of writes is spent.
class FailingFile : public ndb::FileIo {
 public:
  FailingFile(std::unique_ptr<ndb::FileIo> inner, int* writes_left)
      : inner_(std::move(inner)), writes_left_(writes_left) {}
  void ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) override {
    inner_->ReadAt(offset, data);
  }
  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    if (--*writes_left_ < 0) throw std::system_error(ENOSPC, std::generic_category(), "test");
    inner_->WriteAt(offset, data);
  }
  void Flush() override { inner_->Flush(); }
  std::uint64_t Size() override { return inner_->Size(); }
  void Truncate(std::uint64_t size) override { inner_->Truncate(size); }

 private:
  std::unique_ptr<ndb::FileIo> inner_;
  int* writes_left_;
};

TEST(NdbFailure, AFailedWriteKeepsTheLastCommitAndStopsTheEngine) {
  // Try every point of failure in the second commit's writes.
  for (int budget = 0; budget < 64; ++budget) {
    auto path = ndb_testing::FreshDir("") / ("fail" + std::to_string(budget) + ".pst");
    int writes_left = 1000000;
    auto db = ndb::NodeDatabase::Create(std::make_unique<FailingFile>(ndb::CreatePosixFile(path), &writes_left));
    ndb::Nid kept = db->AllocateNid(ndb::NidType::kNormalMessage);
    db->PutNode({kept, db->WriteData(ndb_testing::Pattern(5000, 1)), 0, 0});
    db->Commit();
    writes_left = budget;
    bool failed = false;
    try {
      for (int i = 0; i < 200; ++i) {
        db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage),
                     db->WriteData(ndb_testing::Pattern(3000, 2)), 0, 0});
      }
      db->DeleteNode(kept);
      db->Commit();
    } catch (const std::system_error&) {
      failed = true;
    }
    if (!failed) {
      EXPECT_GT(budget, 3);  // every write of that work has had its turn to fail
      break;
    }
    EXPECT_THROW(db->Commit(), ndb::FormatError) << budget;
    EXPECT_THROW(db->WriteBlock(ndb_testing::Pattern(5, 5)), ndb::FormatError) << budget;
    db.reset();

    auto findings = check::CheckNodeDatabase(path);
    EXPECT_FALSE(check::HasErrors(findings)) << budget << "\n" << ndb_testing::Describe(findings);
    auto reread = ndb::NodeDatabase::Open(path, false);
    // Either the last commit, or (when only the write after the header failed) the new one.
    std::size_t count = 0;
    reread->ForEachNode([&](const ndb::NodeEntry&) { ++count; });
    auto node = reread->FindNode(kept);
    if (node) {
      EXPECT_EQ(count, 1u) << budget;
      EXPECT_EQ(reread->ReadData(node->data), ndb_testing::Pattern(5000, 1));
    } else {
      EXPECT_EQ(count, 200u) << budget;
    }
  }
}

TEST(NdbFailure, AnUnnamedFileIsNamedOnlyWhenPublishedAndNeverOverAnother) {
  const auto dir = ndb_testing::FreshDir("unnamed");
  const auto path = dir / "new.pst";
  ndb::UnnamedFile made = ndb::CreateUnnamedPosixFile(path);
  made.file->WriteAt(0, ndb_testing::Pattern(100, 3));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(made.publish(), path);
  EXPECT_EQ(std::filesystem::file_size(path), 100u);
  EXPECT_EQ(std::filesystem::status(path).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // A name taken meanwhile (here a planted link) is neither replaced nor followed: the
  // file takes the next free name.
  const auto taken = dir / "taken.pst";
  ndb::UnnamedFile second = ndb::CreateUnnamedPosixFile(taken);
  std::filesystem::create_symlink(dir / "elsewhere", taken);
  EXPECT_EQ(second.publish(), dir / "taken (2).pst");
  EXPECT_TRUE(std::filesystem::is_symlink(taken));
  EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
}

// Writes to a file whose name was removed reach nobody: the next commit says so, and the
// database refuses every write after it.
TEST(NdbFailure, AFileRemovedWhileWrittenRefusesTheNextCommit) {
  const auto path = ndb_testing::FreshDir("removed") / "gone.pst";
  auto db = ndb::NodeDatabase::Create(path);
  db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage), db->WriteData(ndb_testing::Pattern(500, 1)),
               0, ndb::kNidRootFolder});
  std::filesystem::remove(path);
  EXPECT_THROW(db->Commit(), std::system_error);
  EXPECT_NE(db->WriteFailure().find("removed"), std::string::npos) << db->WriteFailure();
  EXPECT_THROW(db->WriteData(ndb_testing::Pattern(10, 2)), ndb::FormatError);
}

}  // namespace
}  // namespace mailvane::pst
