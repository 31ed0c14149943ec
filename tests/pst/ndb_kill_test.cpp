// A writer killed at random moments (between and during commits) leaves a file that opens,
// checks without errors and holds everything of its last finished commit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "ndb_test_util.h"
#include "pst/check/ndb_check.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst {
namespace {

using ndb_testing::Describe;
using ndb_testing::Pattern;

constexpr std::uint32_t kPerCommit = 40;

std::vector<std::uint8_t> Body(std::uint32_t i) { return Pattern(100 + (i * 37) % 9000, i); }

// The child: adds nodes (some replacing older ones, so space is freed and reused) and
// reports the number of nodes after each finished commit through the pipe.
[[noreturn]] void Writer(const std::filesystem::path& path, int report) {
  try {
    auto db = ndb::NodeDatabase::Create(path);
    for (std::uint32_t i = 0;; ++i) {
      ndb::Nid nid = ndb::MakeNid(ndb::NidType::kNormalMessage, 0x10001 + i);
      db->PutNode({nid, db->WriteData(Body(i)), 0, ndb::kNidRootFolder});
      if (i >= 10) {
        // Rewrite an older node with the same content: its old blocks are released.
        std::uint32_t old = i - 10;
        db->PutNode({ndb::MakeNid(ndb::NidType::kNormalMessage, 0x10001 + old), db->WriteData(Body(old)),
                     0, ndb::kNidRootFolder});
      }
      if ((i + 1) % kPerCommit == 0) {
        db->Commit();
        std::uint32_t count = i + 1;
        if (::write(report, &count, sizeof count) != sizeof count) ::_exit(3);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "writer failed: %s\n", e.what());
    ::_exit(2);
  }
}

TEST(NdbKill, FileHoldsTheLastCommitAfterSigkill) {
  std::mt19937 random(12345);
  for (int round = 0; round < 8; ++round) {
    auto path = ndb_testing::FreshDir("") / ("killed" + std::to_string(round) + ".pst");
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(fds[0]);
      Writer(path, fds[1]);
    }
    ::close(fds[1]);
    // Let it finish a few commits, then kill it at a random moment.
    std::uint32_t committed = 0;
    std::uint32_t wanted = 1 + random() % 4;
    for (std::uint32_t seen = 0; seen < wanted; ++seen) {
      ASSERT_EQ(::read(fds[0], &committed, sizeof committed), static_cast<ssize_t>(sizeof committed));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;
    std::uint32_t later = 0;
    while (::read(fds[0], &later, sizeof later) == static_cast<ssize_t>(sizeof later)) {
      committed = later;
    }
    ::close(fds[0]);

    auto findings = check::CheckNodeDatabase(path);
    EXPECT_FALSE(check::HasErrors(findings)) << "round " << round << "\n" << Describe(findings);
    {
      auto db = ndb::NodeDatabase::Open(path, false);
      for (std::uint32_t i = 0; i < committed; ++i) {
        auto node = db->FindNode(ndb::MakeNid(ndb::NidType::kNormalMessage, 0x10001 + i));
        ASSERT_TRUE(node) << "round " << round << " node " << i << " of " << committed;
        if (i % 7 == 0 || i + 1 == committed) {
          EXPECT_EQ(db->ReadData(node->data), Body(i)) << "round " << round << " node " << i;
        }
      }
    }
    // Reopened for writing, the file is rebuilt clean and goes on.
    auto db = ndb::NodeDatabase::Open(path, true);
    db->PutNode({db->AllocateNid(ndb::NidType::kNormalMessage), db->WriteData(Body(1)), 0, 0});
    db->Close();
    auto after = check::CheckNodeDatabase(path);
    EXPECT_TRUE(after.empty()) << "round " << round << "\n" << Describe(after);
  }
}

}  // namespace
}  // namespace mailvane::pst
