// The built mailvane program: its exit codes and output, and the sample export converted
// into a PST that our checker and Debian's independent readers read back, every message in
// its folder with its subject and attachments. Skipped while the program is not built.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "run/run_harness.h"
#include "source/relative_folder.h"
#include "support/files.h"
#include "support/pst_readers.h"

namespace mailvane::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAreArray;
using testsupport::RunCommand;

using testsupport::SourceDir;

fs::path Program() { return testsupport::BuiltProgram("mailvane"); }

#define REQUIRE_PROGRAM()                                                              \
  if (!fs::exists(Program())) GTEST_SKIP() << Program() << " is not built";

// The built program answers as the in-process command line does (tested there in full).
TEST(MailvaneProgramTest, UsageAndVersionExitCodes) {
  REQUIRE_PROGRAM();
  EXPECT_EQ(RunCommand({Program().string(), "--nonsense", "a", "b"}).exit_code, 64);
  testsupport::CommandResult version = RunCommand({Program().string(), "--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, cli::VersionText());
}

// Every message of a PST as (folder path below the top of the store, subject, attachments).
using MessageRow = std::tuple<std::string, std::string, int>;

std::vector<MessageRow> MessagesOf(const fs::path& pst) {
  const testsupport::PypffMessages read = testsupport::ReadMessagesWithPypff(pst);
  EXPECT_TRUE(read.ok) << read.run.err;
  std::vector<MessageRow> rows;
  for (const auto& m : read.messages) {
    const std::size_t below_top = m.folder.find('\\');
    rows.emplace_back(below_top == std::string::npos ? "" : m.folder.substr(below_top + 1), m.subject,
                      m.attachments);
  }
  return rows;
}

TEST(MailvaneProgramTest, SampleExportBecomesAPstThatEveryReaderReads) {
  REQUIRE_PROGRAM();
  const fs::path sample = SourceDir() / "examples" / "zimbra-export";
  ASSERT_TRUE(fs::is_directory(sample));
  TempTree out;
  testsupport::CommandResult r =
      RunCommand({Program().string(), sample.string(), out.root().string()});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("57 Messages Queued for Conversion.\n"));
  EXPECT_THAT(r.out, HasSubstr("Zimbra Messages Converted Successfully.\n"));
  EXPECT_THAT(r.out, HasSubstr("Items written: 10 messages, 4 contacts, 6 appointments, 3 tasks, "
                               "1 notes\n"));
  // Data files, the Briefcase document and the records of messages, folders and tags.
  EXPECT_THAT(r.out, HasSubstr("Files: 24 converted, 0 failed, 33 taken by no step\n"));

  fs::path pst;
  for (const auto& entry : fs::directory_iterator(out.root())) {
    if (entry.path().extension() == ".pst") pst = entry.path();
  }
  ASSERT_FALSE(pst.empty());
  const fs::path log = fs::path(pst).replace_extension(".log");
  // A mailbox is private: the .pst and its report are its owner's alone.
  for (const fs::path& made : {pst, log}) {
    EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_read | fs::perms::owner_write)
        << made;
  }

  // Readers follow a symbolic link to the file.
  const fs::path link = out.root() / "link" / "store.pst";
  fs::create_directories(link.parent_path());
  fs::create_symlink(pst, link);
  const fs::path checker = testsupport::BuiltProgram("mailvane-pstcheck");
  if (fs::exists(checker)) {
    for (const fs::path& path : {pst, link}) {
      testsupport::CommandResult check = RunCommand({checker.string(), path.string()});
      EXPECT_EQ(check.exit_code, 0) << path << "\n" << check.out << check.err;
    }
  }
  ASSERT_TRUE(testsupport::HavePypff());
  EXPECT_EQ(MessagesOf(link).size(), MessagesOf(pst).size());
  const std::string p = source::RelativeFolder((sample / "x").string());
  const std::vector<MessageRow> expected = {
      {"Inbox", "Quarterly figures", 2},
      {"Inbox", "Grüße aus München", 0},
      {"Inbox", "Fwd: Lunch on Friday?", 1},
      {"Inbox", "Late arrival", 0},
      {"Inbox\\Projects", "Re: Budget 2024", 0},
      {"Inbox\\Projects\\2023", "Old plan", 0},
      {"Sent Items", "Re: Quarterly figures", 0},
      {"Drafts", "Ideas for the offsite", 0},
      {p + "\\Clients", "Welcome aboard", 0},
      {p + "\\Clients\\Acme", "Contract draft", 1},
  };
  std::vector<MessageRow> mail;
  std::map<std::string, int> others;
  for (const MessageRow& row : MessagesOf(pst)) {
    std::string folder = std::get<0>(row);
    // The second calendar and the task list are calendar and task folders of their own.
    if (folder == p + "\\Team Calendar") folder = "Calendar";
    if (folder == p + "\\Errands") folder = "Tasks";
    if (folder == "Calendar" || folder == "Tasks" || folder == "Contacts" || folder == "Notes") {
      ++others[folder];
    } else {
      mail.push_back(row);
    }
  }
  EXPECT_THAT(mail, UnorderedElementsAreArray(expected));
  EXPECT_EQ(others["Calendar"], 6);
  EXPECT_EQ(others["Tasks"], 3);
  EXPECT_EQ(others["Contacts"], 4);
  EXPECT_EQ(others["Notes"], 1);

  if (testsupport::HaveProgram("pffinfo")) {
    EXPECT_TRUE(testsupport::ReadWithPffinfo(pst).ok);
  }
  if (testsupport::HaveProgram("readpst")) {
    testsupport::ReadpstResult rp = testsupport::ReadWithReadpst(pst, out.root() / "readpst");
    EXPECT_EQ(rp.run.exit_code, 0) << rp.run.err;
    EXPECT_EQ(rp.run.err, "");
    // readpst exports no tasks and no notes: it counts them as skipped. Nothing else may be.
    for (const auto& summary : rp.summaries) {
      if (summary.folder == "Tasks" || summary.folder == "Errands" || summary.folder == "Notes") {
        continue;
      }
      EXPECT_EQ(summary.skipped, 0) << summary.folder << "\n" << rp.run.out;
    }
  }
  if (testsupport::HaveProgram("pffexport")) {
    fs::create_directories(out.root() / "pffexport");
    testsupport::PffexportResult pe = testsupport::ReadWithPffexport(pst, out.root() / "pffexport");
    EXPECT_TRUE(pe.ok) << pe.run.out << pe.run.err;
  }
}

// A tiny --max-size splits eight copies of the sample (one alone fits the smallest store)
// into several stores, each read by every reader and none past the limit; together they
// hold exactly the items of one unsplit run.
TEST(MailvaneProgramTest, SizeLimitSplitsTheRunIntoCompleteParts) {
  REQUIRE_PROGRAM();
  TempTree input, whole, split;
  for (char copy = 'a'; copy < 'i'; ++copy) {
    fs::copy(SourceDir() / "examples" / "zimbra-export", input.root() / std::string(1, copy),
             fs::copy_options::recursive);
  }
  ASSERT_EQ(RunCommand({Program().string(), "--name", "box", input.root().string(), whole.root().string()})
                .exit_code,
            0);
  testsupport::CommandResult r = RunCommand({Program().string(), "--name", "box", "--max-size",
                                             "300K", input.root().string(), split.root().string()});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  auto part_path = [&](int n) {
    return split.root() / (n == 1 ? "box.pst" : "box part " + std::to_string(n) + ".pst");
  };
  std::vector<fs::path> parts;
  for (int n = 1; fs::exists(part_path(n)); ++n) parts.push_back(part_path(n));
  ASSERT_GE(parts.size(), 3u) << r.out;
  EXPECT_THAT(r.out, HasSubstr("PST files: " + std::to_string(parts.size())));
  const std::string log = testsupport::ReadFile(split.root() / "box.log");
  std::vector<MessageRow> all;
  const fs::path checker = testsupport::BuiltProgram("mailvane-pstcheck");
  for (const fs::path& part : parts) {
    EXPECT_THAT(log, HasSubstr(part.string() + ": "));
    EXPECT_LE(fs::file_size(part), 300u << 10) << part;
    if (fs::exists(checker)) {
      testsupport::CommandResult check = RunCommand({checker.string(), part.string()});
      EXPECT_EQ(check.exit_code, 0) << part << check.out << check.err;
    }
    const std::vector<MessageRow> rows = MessagesOf(part);
    EXPECT_FALSE(rows.empty()) << part;
    all.insert(all.end(), rows.begin(), rows.end());
    if (testsupport::HaveProgram("readpst")) {
      const fs::path out = split.root() / ("readpst-" + part.stem().string());
      testsupport::ReadpstResult rp = testsupport::ReadWithReadpst(part, out);
      EXPECT_EQ(rp.run.exit_code, 0) << rp.run.err;
      EXPECT_EQ(rp.run.err, "");
      for (const auto& summary : rp.summaries) {
        // readpst exports no tasks and no notes.
        if (summary.folder == "Tasks" || summary.folder == "Errands" || summary.folder == "Notes") continue;
        EXPECT_EQ(summary.skipped, 0) << part << " " << summary.folder;
      }
    }
  }
  EXPECT_THAT(all, UnorderedElementsAreArray(MessagesOf(whole.root() / "box.pst")));
}

// Messages parsed on worker threads give the same store as a one-thread run: every item,
// property and attachment as pffexport writes them out, in the same order.
TEST(MailvaneProgramTest, ThreadsWriteTheSameItemsAsOneThread) {
  REQUIRE_PROGRAM();
  if (!testsupport::HaveProgram("pffexport")) GTEST_SKIP() << "pffexport is not installed";
  TempTree input, out;
  for (char copy = 'a'; copy < 'd'; ++copy) {
    fs::copy(SourceDir() / "examples" / "zimbra-export", input.root() / std::string(1, copy),
             fs::copy_options::recursive);
  }
  std::map<std::string, std::string> exported[2];
  for (int run = 0; run < 2; ++run) {
    const std::string name = run == 0 ? "one" : "three";
    testsupport::CommandResult r =
        RunCommand({Program().string(), "--name", name, "--threads", run == 0 ? "1" : "3",
                    input.root().string(), out.root().string()});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    const fs::path work = out.root() / ("export-" + name);
    fs::create_directories(work);
    ASSERT_TRUE(testsupport::ReadWithPffexport(out.root() / (name + ".pst"), work).ok);
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

}  // namespace
}  // namespace mailvane::testing
