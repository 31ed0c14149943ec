// The command line in-process against the fake store: exit codes, what it prints on a
// terminal and into a pipe, and the failure paths.
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "cli/terminal_front_end.h"
#include "run/run_harness.h"

namespace mailvane::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

struct Cli {
  FakeWorld world;
  std::vector<StepCall> calls;
  std::ostringstream out, err;
  int Run(std::vector<std::string> args, bool terminal = false) {
    cli::CommandLineIo io{out, err, terminal, 60};
    return cli::RunCommandLine(
        args, {[this] { return std::make_unique<FakeSession>(world); }, RecordingSteps(calls), {}},
        io);
  }
};

TEST(CommandLineTest, UsageHelpAndVersion) {
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{}, {"only-one"}, {"a", "b", "c"}, {"--bogus", "a", "b"},
        {"--max-size", "12Q", "a", "b"}, {"--max-size", "G", "a", "b"},
        {"--max-size", "-1", "a", "b"}, {"--max-size", "999999999999999T", "a", "b"},
        {"--threads", "0", "a", "b"}, {"--threads", "x", "a", "b"}}) {
    Cli c;
    EXPECT_EQ(c.Run(bad), 64);
    EXPECT_THAT(c.err.str(), StartsWith("mailvane: "));
    EXPECT_THAT(c.err.str(), HasSubstr("\nTry 'mailvane --help' for more information.\n"));
    EXPECT_EQ(c.out.str(), "");
  }
  Cli help;
  EXPECT_EQ(help.Run({"--help"}), 0);
  EXPECT_THAT(help.out.str(), HasSubstr("SOURCE_FOLDER TARGET_FOLDER"));
  Cli version;
  EXPECT_EQ(version.Run({"--version"}), 0);
  EXPECT_THAT(version.out.str(), StartsWith("mailvane (Larkwell Mailvane) 4.3\nCopyright (C) "));
}

TEST(CommandLineTest, SourceThatIsNoFolderIsBadUsageAndAnEmptyOneCannotStart) {
  TempTree tree;
  Cli missing;
  EXPECT_EQ(missing.Run({(tree.root() / "nothing").string(), tree.root().string()}), 64);
  EXPECT_THAT(missing.err.str(), HasSubstr("is not a folder"));

  std::filesystem::create_directories(tree.root() / "empty");
  Cli empty;
  EXPECT_EQ(empty.Run({(tree.root() / "empty").string(), (tree.root() / "out").string()}), 2);
  EXPECT_THAT(empty.out.str(), HasSubstr("0 Messages Queued for Conversion.\n"));
  EXPECT_THAT(empty.err.str(), HasSubstr("nothing to convert"));
  EXPECT_EQ(empty.world.logons, 0);
}

TEST(CommandLineTest, PlainLinesWhenNotATerminal) {
  TempTree tree;
  tree.Write("Export/Inbox/1.eml", Rfc822("one"));
  tree.Write("Export/Inbox/1.eml.meta", "{\"type\":5,\"unread\":1,\"flags\":0}");
  tree.Write("Export/Archive/2.eml", Rfc822("two"));
  Cli c;
  const std::string out_folder = (tree.root() / "out").string();
  EXPECT_EQ(c.Run({(tree.root() / "Export").string(), out_folder}), 0);
  const std::string out = c.out.str();
  EXPECT_THAT(out, StartsWith("3 Messages Queued for Conversion.\n"
                              "Creating the store...\n"
                              "Reading the export's folders...\n"
                              "Creating the folders...\n"));
  EXPECT_THAT(out, HasSubstr("Details : Reading - (3 of 3) file(s) 100%\n"
                             "Zimbra Messages Converted Successfully.\n"
                             "Open Outlook to view converted PST file.\n" + out_folder +
                             "/ZimbraMailbox"));
  EXPECT_THAT(out, HasSubstr(".pst\n"
                             "Items written: 2 messages, 0 contacts, 0 appointments, 0 tasks, 0 notes\n"
                             "Files: 2 converted, 0 failed, 1 taken by no step\n"
                             "Report: " + out_folder + "/ZimbraMailbox"));
  EXPECT_THAT(out, Not(HasSubstr("\r")));
  EXPECT_EQ(c.err.str(), "");
}

TEST(CommandLineTest, TerminalGetsOneRedrawnLineWithTheBar) {
  TempTree tree;
  tree.Write("Export/Inbox/1.eml", Rfc822("one"));
  Cli c;
  EXPECT_EQ(c.Run({(tree.root() / "Export").string(), (tree.root() / "out").string()}, true), 0);
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

TEST(CommandLineTest, FailedFilesExitWithOneAndTheWarningGoesToErrors) {
  TempTree tree;
  tree.Write("Export/Inbox/good.eml", Rfc822("good"));
  tree.Write("Export/Inbox/bad.eml", "not mail");
  Cli c;
  c.world.failing_imports.insert("bad.eml");
  EXPECT_EQ(c.Run({(tree.root() / "Export").string(), (tree.root() / "out").string()}), 1);
  EXPECT_THAT(c.err.str(), HasSubstr("mailvane: Zimbra Messages Converted with Errors.\n"
                                     "1 file(s) converted, 1 file(s) failed.\nSee the report: "));
  EXPECT_THAT(c.out.str(), HasSubstr("Files: 1 converted, 1 failed, 0 taken by no step\n"));
}

TEST(CommandLineTest, TargetThatIsAFileCannotStartAndTheCauseIsNamed) {
  TempTree tree;
  tree.Write("Export/Inbox/1.eml", Rfc822("one"));
  const std::string file = tree.Write("occupied");
  Cli c;
  EXPECT_EQ(c.Run({(tree.root() / "Export").string(), file}), 2);
  // The cause first, in plain words; the window's Outlook wording is not the terminal's.
  EXPECT_THAT(c.err.str(), StartsWith("mailvane: the target folder " + file + "/ cannot be created: "));
  EXPECT_THAT(c.err.str(), Not(HasSubstr("Outlook")));
  EXPECT_EQ(c.world.items_saved, 0);
}

TEST(CommandLineTest, MissingTargetIsCreatedAndRelativeFoldersAreMadeAbsolute) {
  TempTree tree;
  tree.Write("Export/Inbox/1.eml", Rfc822("one"));
  std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(tree.root());
  Cli c;
  int code = c.Run({"Export/.", "new/deep/out"});
  std::filesystem::current_path(cwd);
  EXPECT_EQ(code, 0) << c.err.str();
  EXPECT_TRUE(std::filesystem::is_directory(tree.root() / "new/deep/out"));
  EXPECT_EQ(c.world.pst_path.parent_path(), tree.root() / "new/deep/out");
  // The folders below the store's top mirror the whole absolute path of the export.
  EXPECT_EQ(c.world.FolderOfImported("1.eml"), "Inbox");
  EXPECT_THAT(c.world.FolderPaths(), ::testing::Contains(tree.StorePrefix() + "\\Export"));
}

TEST(CommandLineTest, QuietPrintsNothingWhenAllIsWell) {
  TempTree tree;
  tree.Write("Export/Inbox/1.eml", Rfc822("one"));
  Cli c;
  EXPECT_EQ(c.Run({"--quiet", (tree.root() / "Export").string(), (tree.root() / "out").string()}),
            0);
  EXPECT_EQ(c.out.str(), "");
  EXPECT_EQ(c.err.str(), "");
}

}  // namespace
}  // namespace mailvane::testing
