// Conversions cut short, and targets under strain. The program killed with SIGKILL at
// random moments of a conversion of a few thousand messages: whatever the moment, the .pst
// left behind passes our checker, opens in pypff and readpst, holds the messages of a
// prefix of the file list (the items of whole commits) and is no older than the last commit
// seen before the kill (a watcher reads the header while the program runs and keeps the
// newest sound one). The k-th write or flush of a small conversion failing (ENOSPC, EIO)
// through the engine's file seam: every run ends with the error named in the report and on
// the front end, and the file left behind is the last one committed. Runs that share the
// target folder each take a name of their own.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pst/check/pst_checker.h"
#include "pst/ndb/header.h"
#include "pst/ndb/layout.h"
#include "pst/pst_test_support.h"
#include "run/conversion_run.h"
#include "store/mail_store.h"
#include "support/fake_front_end.h"
#include "support/files.h"
#include "support/pst_readers.h"

namespace mailvane::reliability {
namespace {

using namespace testsupport;

using pst::testing::FaultOn;
using pst::testing::FaultPlan;
using pst::testing::FaultSeam;

std::tm FixedClock() { return testsupport::LocalTimeAt(2024, 3, 4, 10); }

// A small export: messages in two folders and a contact.
source::PathList SmallExport(const fs::path& root) {
  source::PathList files;
  for (int i = 1; i <= 6; ++i) {
    const fs::path p = root / "Export" / (i % 2 ? "Inbox" : "Projects") / (std::to_string(i) + ".eml");
    WriteFile(p, Rfc822("Fault " + std::to_string(i), 3000));
    files.Append(p.string());
  }
  const fs::path contact = root / "Export" / "Contacts" / "Anna.meta";
  WriteFile(contact, "x\r\nd3:fldd9:firstName4:Anna8:lastName6:Becker5:email15:anna@example.come");
  files.Append(contact.string());
  return files;
}

struct Outcome {
  run::RunResult result;
  run::RunReport report;
  std::string pst;
  std::vector<std::string> shown;
};

Outcome Convert(const source::PathList& files, const fs::path& target) {
  testsupport::FakeFrontEnd front_end(target.string());
  run::RunOptions options;
  options.clock = FixedClock;
  options.commit_every_items = 2;  // several safe points in a small run
  run::ConversionRun conversion(
      front_end, [] { return store::CreatePstSession(); }, run::DefaultItemSteps(), options);
  Outcome o;
  o.result = conversion.CmdExtractDBX_Click(files, static_cast<int>(files.size()));
  o.report = conversion.Report();
  o.pst = conversion.State().PstPath;
  for (const run::BoxText& b : front_end.boxes) o.shown.push_back(b.title + ": " + b.text);
  return o;
}

bool Mentions(const std::vector<std::string>& texts, const std::string& what) {
  for (const std::string& t : texts) {
    if (t.find(what) != std::string::npos) return true;
  }
  return false;
}

// One faulted run and everything it must leave: the error told, the file as committed.
void CheckFaultedRun(const source::PathList& files, const fs::path& target,
                     FaultOn on, int k, int error) {
  SCOPED_TRACE(std::string(on == FaultOn::kWrite ? "write " : "flush ") + std::to_string(k) +
               " fails with " + std::strerror(error));
  FaultPlan plan;
  plan.on = on;
  plan.fail_at = k;
  plan.error = error;
  Outcome o;
  {
    FaultSeam seam(plan);
    o = Convert(files, target);
  }
  ASSERT_EQ(plan.injected, 1);
  const std::string why = std::strerror(error);
  ASSERT_NE(o.result.outcome, run::RunOutcome::kRefused);
  ASSERT_NE(o.result.outcome, run::RunOutcome::kCancelled);
  if (o.result.outcome == run::RunOutcome::kSessionFailed) {
    EXPECT_NE(o.result.cause.find(why), std::string::npos) << o.result.cause;
    EXPECT_TRUE(Mentions(o.shown, why));
  } else {
    std::vector<std::string> reasons;
    for (const run::Failure& f : o.report.Failures()) reasons.push_back(f.reason);
    EXPECT_TRUE(Mentions(reasons, why))
        << "the report does not name the failure:\n" << ::testing::PrintToString(reasons)
        << "\n" << ::testing::PrintToString(o.shown);
    EXPECT_TRUE(Mentions(o.shown, "Converted with Errors")) << "the front end was not told";
    EXPECT_FALSE(Mentions(o.shown, "Converted Successfully"));
  }
  if (o.pst.empty() || !fs::exists(o.pst)) return;
  // The file gets its name only after the store's first whole commit.
  ASSERT_TRUE(plan.committed_header) << "a file that was never committed became visible";
  const std::string on_disk = ReadFile(o.pst).substr(0, pst::ndb::kHeaderSize);
  EXPECT_TRUE(std::equal(on_disk.begin(), on_disk.end(), plan.committed_header->begin(),
                         [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
      << "the header on disk is not the last one committed";
  // A commit cut short leaves at most maps declared invalid: never an error.
  const pst::check::CheckResult check = pst::check::CheckPstFile(o.pst, {.folder_tree = true});
  EXPECT_TRUE(check.clean()) << pst::check::FormatFindings(check);
  // What the run counted is what the file holds. A commit whose flush failed may be in the
  // file or not (the disk decides): then it is not counted, so never more than is held.
  std::size_t held = 0;
  for (const pst::check::FolderTreeEntry& f : check.tree) {
    if (!f.search_folder) held += static_cast<std::size_t>(f.items);
  }
  if (o.result.outcome == run::RunOutcome::kCompleted && on == FaultOn::kWrite) {
    EXPECT_EQ(o.report.ItemsTotal(), held) << o.report.Summary();
  } else if (o.result.outcome == run::RunOutcome::kCompleted) {
    EXPECT_LE(o.report.ItemsTotal(), held) << o.report.Summary();
  }
}

TEST(IoFaultTest, EveryWriteAndFlushOfASmallConversionFailingInTurn) {
  ScratchDir dir("faults");
  const source::PathList files = SmallExport(dir.path());

  FaultPlan counting;
  {
    FaultSeam seam(counting);
    const Outcome clean = Convert(files, dir.path() / "clean");
    ASSERT_EQ(clean.result.outcome, run::RunOutcome::kCompleted);
    ASSERT_FALSE(clean.report.HasFailures()) << clean.report.Summary();
    ASSERT_EQ(clean.report.ItemsTotal(), 7u);
  }
  ASSERT_GT(counting.writes, 10);
  ASSERT_GT(counting.flushes, 2);

  // Under the sanitizers every third k; the errors take turns.
  const int stride = ShortTests() ? 3 : 1;
  int runs = 0;
  for (int k = 1; k <= counting.writes; k += stride) {
    CheckFaultedRun(files, dir.path() / ("w" + std::to_string(k)), FaultOn::kWrite, k,
                    k % 2 ? ENOSPC : EIO);
    ++runs;
  }
  for (int k = 1; k <= counting.flushes; k += stride) {
    CheckFaultedRun(files, dir.path() / ("f" + std::to_string(k)), FaultOn::kFlush, k,
                    k % 2 ? EIO : ENOSPC);
    ++runs;
  }
  std::printf("faults injected: %d (%d writes, %d flushes in a clean run)\n", runs,
              counting.writes, counting.flushes);
}

// A target that fills up: the run stops at the first refused write, counts only what the
// file holds, and its report goes to the temporary folder when the target cannot take it.
TEST(IoFaultTest, SmallFileSystemRunningFull) {
  ScratchDir dir("full");
  const fs::path small = dir.path() / "small";
  fs::create_directories(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
  }
  source::PathList files;
  for (int i = 1; i <= 40; ++i) {
    const fs::path p = dir.path() / "Export" / "Inbox" / (std::to_string(i) + ".eml");
    WriteFile(p, Rfc822("Full " + std::to_string(i), 20000));
    files.Append(p.string());
  }
  const fs::path tmp = dir.path() / "tmp";
  fs::create_directories(tmp);
  ::setenv("TMPDIR", tmp.c_str(), 1);
  const Outcome o = Convert(files, small);
  ::unsetenv("TMPDIR");
  const bool checked = !o.pst.empty() && fs::exists(o.pst);
  const pst::check::CheckResult check = checked ? pst::check::CheckPstFile(o.pst) : pst::check::CheckResult{};
  const auto read = checked ? testsupport::ReadMessagesWithPypff(o.pst) : testsupport::PypffMessages{};
  ::umount(small.c_str());  // the file goes with the mount; it was read above
  ASSERT_EQ(o.result.outcome, run::RunOutcome::kCompleted);
  const run::RunReport& r = o.report;
  EXPECT_NE(r.StoreFailure().find(std::strerror(ENOSPC)), std::string::npos) << r.Summary();
  EXPECT_GT(r.FilesNotReached(), 0u) << "the run went on after the store refused a write";
  EXPECT_EQ(r.FilesConverted() + r.FilesFailed() + r.FilesLost() + r.FilesNotReached(), files.size())
      << r.Summary();
  EXPECT_TRUE(Mentions(o.shown, "refused a write"));
  if (checked) {
    EXPECT_TRUE(check.clean()) << pst::check::FormatFindings(check);
    ASSERT_TRUE(read.ok) << read.run.err;
    EXPECT_EQ(read.messages.size(), r.ItemsTotal()) << "the counts are not what the file holds";
  } else {
    EXPECT_EQ(r.ItemsTotal(), 0u);
  }
  ASSERT_FALSE(o.result.report_path.empty()) << "the report was lost";
  if (o.result.report_in_temp_folder) {
    EXPECT_EQ(fs::path(o.result.report_path).parent_path(), tmp);
    EXPECT_NE(ReadFile(o.result.report_path).find("refused a write"), std::string::npos);
  }
}

// Runs that start in the same second into one folder: each gets its own .pst under the
// next free name, taken atomically, and none fails because another took a name first.
TEST(SharedFolderTest, FourRunsInOneSecondIntoOneFolder) {
  ScratchDir dir("shared");
  const source::PathList files = SmallExport(dir.path());
  const fs::path out = dir.path() / "out" / "new";  // made by the runs
  std::vector<pid_t> runs;
  for (int k = 0; k < 4; ++k) {
    runs.push_back(::fork());
    if (runs.back() != 0) continue;
    const Outcome o = Convert(files, out);
    ::_exit(o.result.outcome == run::RunOutcome::kCompleted && !o.report.HasFailures() ? 0 : 1);
  }
  for (pid_t pid : runs) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a run failed: " << status;
  }

  const std::string base = "ZimbraMailbox4.3.24 10.0.00";
  const std::set<std::string> expected = {
      base + ".pst", base + " (2).pst", base + " (3).pst", base + " (4).pst",
      base + ".log", base + " (2).log", base + " (3).log", base + " (4).log"};
  EXPECT_EQ(TreeListing(out), expected);
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u) << "a target folder the run makes is private";
  for (const std::string& name : expected) {
    ASSERT_EQ(::stat((out / name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 07777, 0600u) << name << " is readable by others";
    if (!name.ends_with(".pst")) continue;
    EXPECT_EQ(CheckedMessageRows(out / name).size(), files.size()) << name;
  }
}


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
    // The file is named only once it holds a whole store, so whatever is there is clean (a
    // kill inside a commit leaves at most maps declared invalid and bytes past its end) and
    // holds the first m messages of the file list, each once.
    if (ReadFile(pst)[248] == pst::ndb::kAMapInvalid) ++maps_invalid;
    std::vector<std::string> subjects;
    for (const auto& [folder, subject, attachments] : CheckedMessageRows(pst)) subjects.push_back(subject);
    const std::size_t m = subjects.size();
    ASSERT_LE(m, order.size());
    std::vector<std::string> prefix(order.begin(), order.begin() + static_cast<long>(m));
    std::sort(prefix.begin(), prefix.end());
    EXPECT_EQ(subjects, prefix) << "the store holds messages out of file-list order";

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
