// The built mailvane program: its exit codes and output, and the sample export converted
// into a PST that our checker and Debian's independent readers read back, every message in
// its folder with its subject and attachments. Skipped while the program is not built.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/batch_state.h"
#include "cli/command_line.h"
#include "cli/conversion_result.h"
#include "source/relative_folder.h"
#include "support/files.h"
#include "support/pst_readers.h"
#include "run/conversion_run.h"

namespace mailvane::testing {

namespace {

using namespace testsupport;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAreArray;

fs::path Program() { return testsupport::BuiltProgram("mailvane"); }

#define REQUIRE_PROGRAM()                                                              \
  if (!fs::exists(Program())) GTEST_SKIP() << Program() << " is not built";

// What the program answers to bad usage and to runs that cannot start or end with failed
// files: the exit status the manual gives and the cause first on standard error, in words
// for a Linux user (never advice about Outlook).
TEST(MailvaneProgramTest, ExitStatusAndMessagesOfEveryOutcome) {
  REQUIRE_PROGRAM();
  ScratchDir tree;
  const std::string e = tree.path() / "Export", out = tree.path() / "out", file = tree.Write("occupied");
  tree.Write("Export/Inbox/1.eml", Rfc822("one"));
  tree.Write("Export/Archive/2.eml", Rfc822("two"));
  tree.Write("Export/readme.txt", "not mail");
  std::filesystem::create_directories(tree.path() / "empty");
  const std::string list = tree.Write("list.txt", e + "\n");
  tree.Write("stale/" + std::string(cli::kStateFileName), "{\"line\": 1}\n");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err, out;  // what each starts with ("": anything)
  } rows[] = {
      {{}, 64, "mailvane: ", ""},
      {{"only-one"}, 64, "mailvane: ", ""},
      {{"a", "b", "c"}, 64, "mailvane: ", ""},
      {{"--bogus", e, out}, 64, "mailvane: ", ""},
      {{"--max-size", "12Q", e, out}, 64, "mailvane: ", ""},
      {{"--max-size", "-1", e, out}, 64, "mailvane: ", ""},
      {{"--max-size", "999999999999999T", e, out}, 64, "mailvane: ", ""},
      {{"--threads", "0", e, out}, 64, "mailvane: ", ""},
      {{"--batch", list}, 64, "mailvane: ", ""},
      {{"--batch", list, out, "--jobs=2x"}, 64, "mailvane: ", ""},
      {{"--batch", list, out, "--shard", "3/2"}, 64, "mailvane: ", ""},
      {{"--batch", list, out, "--name", "x"}, 64, "mailvane: ", ""},
      {{"--name", "a/b", e, out}, 64, "mailvane: ", ""},
      {{(tree.path() / "nothing").string(), out}, 64,
       "mailvane: SOURCE_FOLDER " + (tree.path() / "nothing").string() + " is not a folder", ""},
      {{file, out}, 64, "mailvane: SOURCE_FOLDER " + file + " is neither a folder nor an archive: ", ""},
      {{"--version"}, 0, "", cli::VersionText()},
      {{"--help"}, 0, "", "Usage: mailvane "},
      {{(tree.path() / "empty").string(), out}, 2, "mailvane: nothing to convert", "0 Messages Queued"},
      {{e, file}, 2, "mailvane: the target folder " + file + "/ cannot be created: ", ""},
      {{"--batch", list, (tree.path() / "stale").string()}, 2,
       "mailvane: the batch stopped: " + (tree.path() / "stale" / cli::kStateFileName).string() +
           " line 1: not a mailbox record", ""},
      {{"--quiet", e, out}, 0, "", ""},
  };
  for (const auto& row : rows) {
    std::vector<std::string> argv = {Program().string()};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    const auto r = RunCommand(argv);
    const std::string shown = ::testing::PrintToString(row.args);
    EXPECT_EQ(r.exit_code, row.status) << shown << r.out << r.err;
    EXPECT_THAT(r.err, ::testing::StartsWith(row.err)) << shown;
    EXPECT_THAT(r.out, ::testing::StartsWith(row.out)) << shown;
    EXPECT_THAT(r.err, ::testing::Not(HasSubstr("Outlook"))) << shown;
    if (row.err == "mailvane: ") {
      EXPECT_THAT(r.err, HasSubstr("\nTry 'mailvane --help' for more information.\n")) << shown;
    }
    if (!row.args.empty() && row.args[0] == "--quiet") {
      EXPECT_EQ(r.out + r.err, "");
    }
  }

  // A file that fails: status 1, the warning on standard error; relative folders, the
  // target made with its parents; --result leaves what the batch reads.
  ASSERT_EQ(::mkfifo((tree.path() / "Export/Inbox/pipe.eml").c_str(), 0600), 0);
  const auto r = RunCommand({"/bin/sh", "-c", "cd \"$0\" && exec \"$1\" --name alice --result=r.json Export/. new/deep/out",
                             tree.path().string(), Program().string()});
  EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
  EXPECT_THAT(r.err, HasSubstr("mailvane: Zimbra Messages Converted with Errors.\n"
                               "2 file(s) converted, 1 file(s) failed.\nSee the report: "));
  EXPECT_THAT(r.out, HasSubstr("Files: 2 converted, 1 failed, 1 taken by no step\n"));
  const cli::ConversionResult result =
      cli::ConversionResultFromJson(testsupport::ReadFile(tree.path() / "r.json"));
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.items[0], 2u);
  EXPECT_EQ(result.files_failed, 1u);
  EXPECT_EQ(result.pst, (tree.path() / "new/deep/out/alice.pst").string());
  EXPECT_EQ(result.report, (tree.path() / "new/deep/out/alice.log").string());
  // The report names the failure and what no step took.
  const std::string report = testsupport::ReadFile(result.report);
  EXPECT_THAT(report, HasSubstr("\n  .txt: 1\n"));
  EXPECT_THAT(report, HasSubstr("\n  " + tree.path().string() + "/Export/readme.txt\n"));
  EXPECT_THAT(report, HasSubstr("/Export/Inbox/pipe.eml | read | it is a FIFO"));
}

fs::path Pst(const fs::path& folder) { return testsupport::OnlyFile(folder, ".pst"); }

// Where each message lands as pypff reads it: the store's own folders, the mirrored folder
// of its path, and none lost when the routing finds no folder ("~" is the mirrored export).
TEST(MailvaneProgramTest, MessagesLandInTheirFolders) {
  REQUIRE_PROGRAM();
  if (!testsupport::HavePypff()) GTEST_SKIP() << "python3-pypff is not installed";
  const std::pair<const char*, const char*> rows[] = {
      {"Inbox/1.eml", "Inbox"},
      {"inbox/2.eml", "~\\inbox"},
      {"Inbox/Work/Old/4.eml", "Inbox\\Work\\Old"},
      {"Sent/Old/5.eml", "Sent Items"},
      {"Sent Items/6.eml", "Sent Items"},
      {"Archive/7.EML", "~\\Archive"},
      // Zimbra's Trash, Drafts and Junk are the store's own, their sub-folders inside them.
      {"Trash/Old/8.eml", "Deleted Items\\Old"},
      {"Drafts/9.eml", "Drafts"},
      {"Junk/10.eml", "Junk E-mail"},
      // Split folders are their folder.
      {"Inbox!3/11.eml", "Inbox"},
      {"Inbox!1/Work!2/12.eml", "Inbox\\Work"},
      {"Sent!18/13.eml", "Sent Items"},
      // The routing finds no folder: the mirrored one takes the message.
      {"Calendar/14.eml", "~\\Calendar"},
      {"InboxOld/15.eml", "~\\InboxOld"},
      {"Sent/Inbox.eml", "~\\Sent"},
      {"Junk!/17.eml", "~\\Junk!"},
      {"Inbox/Projects/Calendar/18.eml", "Inbox\\Projects\\Calendar"},
      {"Contacts/19.eml", "~\\Contacts"},
  };
  ScratchDir tree;
  for (const auto& [file, folder] : rows) tree.Write(std::string("Export/") + file, Rfc822(file));
  tree.Write("Export/Notebook/x.wiki.meta", "");
  tree.Write("Export/Emailed Contacts/x.meta", "");
  const auto r = RunCommand({Program().string(), (tree.path() / "Export").string(), (tree.path() / "out").string()});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  std::map<std::string, std::string> folder_of;
  for (const auto& [folder, subject, attachments] : CheckedMessageRows(Pst(tree.path() / "out"))) folder_of[subject] = folder;
  const std::string mirrored = source::RelativeFolder((tree.path() / "Export" / "x").string());
  for (const auto& [file, folder] : rows) {
    const std::string want = folder[0] == '~' ? mirrored + (folder + 1) : folder;
    EXPECT_EQ(folder_of[file], want) << file;
  }
  // Default folders of Zimbra's own are not mirrored.
  const auto tree_read = testsupport::ReadWithPypff(Pst(tree.path() / "out"));
  for (const char* name : {"Notebook", "Emailed Contacts"}) {
    EXPECT_EQ(tree_read.Find("Top of Personal Folders\\" + mirrored + "\\" + name), nullptr) << name;
  }
}

// Eight copies of the sample (one alone fits the smallest store) converted three ways.
// Split by a tiny --max-size: several stores, each read by every reader and none past the
// limit, together holding exactly the items of the plain run. Parsed on worker threads: the
// store of the one-thread run, every item, property and attachment as pffexport writes them
// out, in the same order.
TEST(MailvaneProgramTest, SplitAndThreadedRunsHoldTheItemsOfOnePlainRun) {
  REQUIRE_PROGRAM();
  ScratchDir input, out;
  for (char copy = 'a'; copy < 'i'; ++copy) {
    fs::copy(SourceDir() / "examples" / "zimbra-export", input.path() / std::string(1, copy),
             fs::copy_options::recursive);
  }
  testsupport::CommandResult r;
  for (const auto& [name, option, value] : {std::tuple{"one", "--threads", "1"}, {"three", "--threads", "3"},
                                            {"box", "--max-size", "300K"}}) {
    r = RunCommand({Program().string(), "--name", name, option, value, input.path().string(), out.path().string()});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  }
  auto part_path = [&](int n) {
    return out.path() / (n == 1 ? "box.pst" : "box part " + std::to_string(n) + ".pst");
  };
  std::vector<fs::path> parts;
  for (int n = 1; fs::exists(part_path(n)); ++n) parts.push_back(part_path(n));
  ASSERT_GE(parts.size(), 3u) << r.out;
  EXPECT_THAT(r.out, HasSubstr("PST files: " + std::to_string(parts.size())));
  const std::string log = testsupport::ReadFile(out.path() / "box.log");
  std::vector<MessageRow> all;
  for (const fs::path& part : parts) {
    EXPECT_THAT(log, HasSubstr(part.string() + ": "));
    EXPECT_LE(fs::file_size(part), 300u << 10) << part;
    const std::vector<MessageRow> rows = CheckedMessageRows(part);
    EXPECT_FALSE(rows.empty()) << part;
    all.insert(all.end(), rows.begin(), rows.end());
    if (testsupport::HaveProgram("readpst")) {
      const fs::path readpst = out.path() / ("readpst-" + part.stem().string());
      testsupport::ReadpstResult rp = testsupport::ReadWithReadpst(part, readpst);
      EXPECT_EQ(rp.run.exit_code, 0) << rp.run.err;
      EXPECT_EQ(rp.run.err, "");
      for (const auto& summary : rp.summaries) {
        // readpst exports no tasks and no notes.
        if (summary.folder == "Tasks" || summary.folder == "Errands" || summary.folder == "Notes") continue;
        EXPECT_EQ(summary.skipped, 0) << part << " " << summary.folder;
      }
    }
  }
  EXPECT_THAT(all, UnorderedElementsAreArray(CheckedMessageRows(out.path() / "one.pst")));

  if (!testsupport::HaveProgram("pffexport")) GTEST_SKIP() << "pffexport is not installed";
  std::map<std::string, std::string> exported[2];
  for (int run = 0; run < 2; ++run) {
    const std::string name = run == 0 ? "one" : "three";
    const fs::path work = out.path() / ("export-" + name);
    fs::create_directories(work);
    ASSERT_TRUE(testsupport::ReadWithPffexport(out.path() / (name + ".pst"), work).ok);
    for (const auto& e : fs::recursive_directory_iterator(work / "export.export")) {
      if (e.is_regular_file()) {
        // Both runs stamp their items with the time they were made; the rest must match.
        std::string text;
        std::istringstream lines(testsupport::ReadFile(e.path()));
        for (std::string line; std::getline(lines, line);) {
          if (line.find("Creation time:") != 0 && line.find("Modification time:") != 0) text += line + "\n";
        }
        exported[run][fs::relative(e.path(), work).string()] = text;
      }
    }
  }
  EXPECT_GT(exported[0].size(), 100u);
  EXPECT_TRUE(exported[0] == exported[1]);
  for (const auto& [path, text] : exported[0]) {
    auto other = exported[1].find(path);
    if (other == exported[1].end() || other->second != text) {
      ADD_FAILURE() << path << " differs";
      break;
    }
  }
}

// The command line in-process, on a terminal: one line redrawn with the bar. (Its exit
// codes and messages are the built program's test.)
TEST(CommandLineTest, TerminalGetsOneRedrawnLineWithTheBar) {
  ScratchDir tree;
  tree.Write("Export/Inbox/1.eml", Rfc822("one"));
  std::ostringstream out_stream, err_stream;
  cli::CommandLineIo io{out_stream, err_stream, true, 60};
  EXPECT_EQ(cli::RunCommandLine({(tree.path() / "Export").string(), (tree.path() / "out").string()},
                                {[] { return store::CreatePstSession(); }, run::DefaultItemSteps(), {}}, io),
            0);
  const std::string out = out_stream.str();
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
