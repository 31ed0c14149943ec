// The command-line front end killed with SIGKILL at random moments of a conversion of a
// few thousand messages. Whatever the moment, the .pst left behind passes our checker,
// opens in pypff and readpst, holds the messages of a prefix of the file list (the items
// of whole commits) and is no older than the last commit seen before the kill: a watcher
// reads the header while the program runs and keeps the newest sound one.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pst/check/pst_checker.h"
#include "pst/ndb/header.h"
#include "pst/ndb/layout.h"
#include "support/files.h"
#include "support/pst_readers.h"

namespace mailvane::reliability {
namespace {

using namespace testsupport;

using namespace std::chrono_literals;

fs::path Program() { return BuiltProgram("mailvane"); }

std::string Subject(int i) {
  char text[32];
  std::snprintf(text, sizeof text, "Kill %05d", i);
  return text;
}

// The commit counter of a sound header, or -1 (no file yet, or a header being written).
long CommitCounter(const fs::path& pst) {
  const int fd = ::open(pst.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  std::uint8_t bytes[pst::ndb::kHeaderSize];
  const ssize_t n = ::pread(fd, bytes, sizeof bytes, 0);
  ::close(fd);
  if (n != static_cast<ssize_t>(sizeof bytes) || !pst::ndb::HeaderProblem(bytes).empty()) return -1;
  return static_cast<long>(pst::ndb::ParseHeader(bytes).unique);
}

struct Kill {
  pid_t pid = 0;
  std::atomic<bool> done{false};
  std::atomic<long> newest_seen{-1};
};

// Watches the target folder's .pst until done, keeping the newest commit counter seen.
void Watch(const fs::path& out, Kill& kill) {
  while (!kill.done) {
    const fs::path pst = OnlyFile(out, ".pst");
    if (!pst.empty()) {
      const long c = CommitCounter(pst);
      if (c > kill.newest_seen) kill.newest_seen = c;
    }
    std::this_thread::sleep_for(1ms);
  }
}

pid_t Start(const fs::path& source, const fs::path& out, const fs::path& tmp) {
  return StartCommand({Program().string(), "--quiet", source.string(), out.string()},
                      {.env = {"TMPDIR=" + tmp.string()}});
}

int Wait(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

TEST(KillTest, SigkillAtRandomMomentsLeavesTheLastCommit) {
  if (!fs::exists(Program())) GTEST_SKIP() << Program() << " is not built";
  ScratchDir dir("kill");
  const int messages = ShortTests() ? 600 : 2000;
  const int kills = ShortTests() ? 6 : 20;
  const fs::path source = dir.path() / "Export";
  for (int i = 0; i < messages; ++i) {
    WriteFile(source / "Inbox" / (Subject(i) + ".eml"), Rfc822(Subject(i), 1500));
  }
  // The order the program lists one folder's files in: by name.
  std::vector<std::string> order;
  for (int i = 0; i < messages; ++i) order.push_back(Subject(i));
  const fs::path tmp = dir.path() / "tmp";
  fs::create_directories(tmp);

  // A whole run first, for its length.
  const auto start = std::chrono::steady_clock::now();
  const int full_status = Wait(Start(source, dir.path() / "full", tmp));
  const auto full = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(WIFEXITED(full_status) && WEXITSTATUS(full_status) == 0);

  std::mt19937 random(20240304);
  const long full_us = std::chrono::duration_cast<std::chrono::microseconds>(full).count();
  std::uniform_int_distribution<long> moment(full_us / 20, full_us * 9 / 10);
  int survived = 0;
  int with_file = 0;
  int maps_invalid = 0;
  for (int k = 0; k < kills; ++k) {
    const fs::path out = dir.path() / ("out" + std::to_string(k));
    fs::create_directories(out);
    Kill kill;
    std::thread watcher(Watch, out, std::ref(kill));
    kill.pid = Start(source, out, tmp);
    const long at = moment(random);
    std::this_thread::sleep_for(std::chrono::microseconds(at));
    ::kill(kill.pid, SIGKILL);
    const int status = Wait(kill.pid);
    kill.done = true;
    watcher.join();
    SCOPED_TRACE("kill " + std::to_string(k) + " at " + std::to_string(at / 1000) + " ms");
    if (WIFEXITED(status)) continue;  // ended before the signal: nothing to learn
    const fs::path pst = OnlyFile(out, ".pst");
    if (pst.empty()) {
      EXPECT_EQ(kill.newest_seen, -1) << "a committed store vanished";
      ++survived;
      continue;
    }
    ++with_file;
    EXPECT_GE(CommitCounter(pst), kill.newest_seen) << "the file went back behind a commit";
    // The file is named only once it holds a whole store, so whatever is there is clean:
    // a kill inside a commit leaves at most maps declared invalid and bytes past its end.
    const pst::check::CheckResult check = pst::check::CheckPstFile(pst);
    ASSERT_TRUE(check.clean()) << pst::check::FormatFindings(check);
    if (ReadFile(pst)[248] == pst::ndb::kAMapInvalid) ++maps_invalid;

    const testsupport::PypffMessages read = testsupport::ReadMessagesWithPypff(pst);
    ASSERT_TRUE(read.ok) << read.run.err;
    // The messages held are the first m of the file list, each once.
    const std::size_t m = read.messages.size();
    ASSERT_LE(m, order.size());
    std::vector<std::string> prefix(order.begin(), order.begin() + static_cast<long>(m));
    std::sort(prefix.begin(), prefix.end());
    EXPECT_EQ(read.Subjects(), prefix) << "the store holds messages out of file-list order";

    const fs::path readpst_out = dir.path() / ("readpst" + std::to_string(k));
    fs::create_directories(readpst_out);
    const testsupport::ReadpstResult rp = testsupport::ReadWithReadpst(pst, readpst_out);
    EXPECT_TRUE(rp.ok) << rp.run.err;
    int done = 0;
    for (const testsupport::ReadpstSummary& s : rp.summaries) done += s.done;
    EXPECT_GE(done, static_cast<int>(m));
    fs::remove_all(readpst_out);
    fs::remove_all(out);
    ++survived;
  }
  std::printf("kills survived: %d of %d (%d with a .pst left behind, %d of them with maps "
              "declared invalid), items lost: 0\n",
              survived, kills, with_file, maps_invalid);
}

}  // namespace
}  // namespace mailvane::reliability
