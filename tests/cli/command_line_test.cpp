// The command line in-process, on a terminal: one line redrawn with
// the bar. (Its exit codes and messages are the built program's test.)
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "cli/terminal_front_end.h"
#include "run/conversion_run.h"
#include "support/files.h"

namespace mailvane::testing {

using testsupport::Rfc822;
using testsupport::ScratchDir;
namespace {

using ::testing::HasSubstr;

struct Cli {
  std::ostringstream out, err;
  int Run(std::vector<std::string> args, bool terminal = false) {
    cli::CommandLineIo io{out, err, terminal, 60};
    return cli::RunCommandLine(
        args, {[] { return store::CreatePstSession(); }, run::DefaultItemSteps(), {}},
        io);
  }
};

TEST(CommandLineTest, TerminalGetsOneRedrawnLineWithTheBar) {
  ScratchDir tree;
  tree.Write("Export/Inbox/1.eml", Rfc822("one"));
  Cli c;
  EXPECT_EQ(c.Run({(tree.path() / "Export").string(), (tree.path() / "out").string()}, true), 0);
  const std::string out = c.out.str();
  EXPECT_THAT(out, HasSubstr("\r\033[K[####################] 100% Details : Reading - (1 of 1)"));
  EXPECT_THAT(out, HasSubstr("\nZimbra Messages Converted Successfully.\n"));
  // No line is wider than the terminal.
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line, '\r');) {
    std::string visible = line.substr(0, line.find('\n'));
    if (visible.rfind("\033[K", 0) == 0) visible.erase(0, 3);
    EXPECT_LE(visible.size(), 59u) << visible;
  }
}

}  // namespace
}  // namespace mailvane::testing
