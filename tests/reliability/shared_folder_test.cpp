// Runs that start in the same second into one folder: each gets its own .pst under the
// next free name, taken atomically, and none fails because another took a name first.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pst/check/pst_checker.h"
#include "run/conversion_run.h"
#include "store/mail_store.h"
#include "support/fake_front_end.h"
#include "support/files.h"
#include "support/pst_readers.h"

namespace mailvane::reliability {
namespace {

using namespace testsupport;

std::tm SameSecond() { return testsupport::LocalTimeAt(2026, 12, 7, 6, 6, 21); }

// A child process converting files into target; its exit status says how the run ended.
pid_t StartRun(const source::PathList& files, const fs::path& target) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  testsupport::FakeFrontEnd front_end(target.string());
  run::RunOptions options;
  options.clock = SameSecond;
  run::ConversionRun conversion(
      front_end, [] { return store::CreatePstSession(); }, run::DefaultItemSteps(), options);
  const run::RunResult r = conversion.CmdExtractDBX_Click(files, static_cast<int>(files.size()));
  const bool ok = r.outcome == run::RunOutcome::kCompleted && !conversion.Report().HasFailures();
  ::_exit(ok ? 0 : 1);
}

TEST(SharedFolderTest, FourRunsInOneSecondIntoOneFolder) {
  ScratchDir dir("shared");
  source::PathList files;
  for (int i = 1; i <= 30; ++i) {
    const fs::path p = dir.path() / "Export" / "Inbox" / (std::to_string(i) + ".eml");
    WriteFile(p, Rfc822("Shared " + std::to_string(i), 2000));
    files.Append(p.string());
  }
  const fs::path out = dir.path() / "out" / "new";  // made by the runs
  std::vector<pid_t> runs;
  for (int k = 0; k < 4; ++k) runs.push_back(StartRun(files, out));
  for (pid_t pid : runs) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a run failed: " << status;
  }

  const std::string base = "ZimbraMailbox7.12.26 6.6.21";
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
    const pst::check::CheckResult check = pst::check::CheckPstFile(out / name);
    EXPECT_TRUE(check.clean()) << name << "\n" << pst::check::FormatFindings(check);
    const testsupport::PypffMessages read = testsupport::ReadMessagesWithPypff(out / name);
    ASSERT_TRUE(read.ok) << read.run.err;
    EXPECT_EQ(read.messages.size(), files.size()) << name;
  }
}

}  // namespace
}  // namespace mailvane::reliability
