// The parts of batch work that run in-process: the result one conversion leaves for the
// batch, the batch's usage errors and a state file it cannot trust, and summary rows that
// stay one row per mailbox whatever the paths hold.
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/batch_record.h"
#include "cli/batch_state.h"
#include "cli/command_line.h"
#include "cli/conversion_result.h"
#include "run/run_harness.h"

namespace mailvane::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Cli {
  FakeWorld world;
  std::vector<StepCall> calls;
  std::ostringstream out, err;
  int Run(std::vector<std::string> args) {
    return cli::RunCommandLine(
        args, {[this] { return std::make_unique<FakeSession>(world); }, RecordingSteps(calls), {}},
        {out, err, false, 80});
  }
};

TEST(BatchOptionsTest, OneConversionNamesItsPstAndLeavesItsResult) {
  struct Case {
    std::string source;  // below the scratch folder
    int exit_status;
    std::size_t messages, files_failed;
    std::string error;
  };
  // The failed import still saves its (empty) item, as the run's skip-on-failure does.
  const Case cases[] = {{"Export", 1, 2, 1, ""}, {"missing", 64, 0, 0, "is not a folder"}};
  for (const Case& c : cases) {
    TempTree tree;
    tree.Write("Export/Inbox/good.eml", Rfc822("good"));
    tree.Write("Export/Inbox/bad.eml", "not mail");
    const std::string result_file = (tree.root() / "result.json").string();
    Cli cli;
    cli.world.failing_imports.insert("bad.eml");
    EXPECT_EQ(cli.Run({"--name", "alice@example.com", "--result=" + result_file,
                       (tree.root() / c.source).string(), (tree.root() / "out").string()}),
              c.exit_status);
    const cli::ConversionResult r =
        cli::ConversionResultFromJson(testsupport::ReadFile(result_file));
    EXPECT_EQ(r.exit_status, c.exit_status);
    EXPECT_EQ(r.items[0], c.messages);
    EXPECT_EQ(r.files_failed, c.files_failed);
    EXPECT_THAT(r.error, HasSubstr(c.error));
    if (c.exit_status == 1) {
      EXPECT_EQ(cli.world.pst_path, tree.root() / "out" / "alice@example.com.pst");
      EXPECT_EQ(r.report, (tree.root() / "out" / "alice@example.com.log").string());
    }
  }
}

TEST(BatchOptionsTest, BadUsageAndAnUntrustworthyStateStopBeforeAnyConversion) {
  TempTree tree;
  const std::string list = tree.Write("list.txt", (tree.root() / "Export").string() + "\n");
  tree.Write("Export/Inbox/1.eml", Rfc822("one"));
  const std::string out = (tree.root() / "out").string();
  const std::vector<std::vector<std::string>> bad = {
      {"--batch"},          {"--batch", list},       {"--batch", list, out, "extra"},
      {"--batch", list, out, "--jobs", "0"}, {"--batch", list, out, "--jobs=2x"},
      {"--batch", list, out, "--shard", "3/2"}, {"--batch", list, out, "--name", "x"},
      {"--name", "a/b", out, out}};
  for (const std::vector<std::string>& args : bad) {
    Cli c;
    EXPECT_EQ(c.Run(args), 64) << args.back();
    EXPECT_THAT(c.err.str(), StartsWith("mailvane: ")) << args.back();
  }
  tree.Write("out/" + std::string(cli::kStateFileName), "{\"line\": 1}\n");
  Cli c;
  EXPECT_EQ(c.Run({"--batch", list, out}), 2);
  EXPECT_THAT(c.err.str(), HasSubstr("mailvane-batch.state line 1: not a mailbox record"));
  EXPECT_THAT(c.err.str(), HasSubstr("move the file away"));
  EXPECT_EQ(c.world.logons, 0);
}

TEST(BatchOptionsTest, SummaryRowsQuoteWhatWouldSplitThem) {
  cli::MailboxRecord r;
  r.line = 7;
  r.source = "/srv/a,b \"c\"";
  r.pst = "/out/x.pst";
  r.items = {1, 2, 3, 4, 5};
  r.seconds = 2.34;
  r.status = cli::kNotStarted;
  r.error = "first\nsecond";
  EXPECT_EQ(cli::SummaryCsvRow(r),
            "7,\"/srv/a,b \"\"c\"\"\",/out/x.pst,1,2,3,4,5,0,0,0,2.3,2,not started,\"first\nsecond\"\r\n");
  r.name = "x.pst";
  const cli::MailboxRecord back = cli::RecordFromJson(cli::RecordJsonLine(r));
  EXPECT_EQ(back.source, r.source);
  EXPECT_EQ(back.error, r.error);
}

}  // namespace
}  // namespace mailvane::testing
