// mailvane --batch as administrators run it: a list of mailboxes converted into one folder,
// killed midway and run again, split into shards run at once by GNU parallel, and lines
// that name nothing convertible. Every .pst is read back by our checker and pypff, and the
// summary must agree with what pypff finds in each file.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/batch_record.h"
#include "cli/batch_state.h"
#include "support/files.h"
#include "support/pst_readers.h"
#include "cli/pst_names.h"

namespace mailvane::testing {
namespace {

using namespace testsupport;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

fs::path Program() { return BuiltProgram("mailvane"); }

#define REQUIRE_PROGRAM()                                                              \
  if (!fs::exists(Program())) GTEST_SKIP() << Program() << " is not built";

// Mailboxes made from the sample export; "big" ones get extra messages so that their
// conversion lasts long enough to be killed and commits a part of its file first.
class Mailboxes : public ScratchDir {
 public:
  Mailboxes() : ScratchDir("batch") {}
  std::string Folder(const std::string& name, int extra_messages = 0) const {
    const fs::path folder = path() / "exports" / name;
    fs::create_directories(folder.parent_path());
    fs::copy(SourceDir() / "examples" / "zimbra-export", folder,
             fs::copy_options::recursive);
    const std::string eml = ReadFile(folder / "Inbox" / "0000000258-Grüße aus München.eml");
    for (int i = 0; i < extra_messages; ++i) {
      WriteFile(folder / "Bulk" / (std::to_string(i) + ".eml"), eml);
    }
    return folder.string();
  }
  // The export as its server hands it out: a .tgz of the folder's content.
  std::string Archive(const std::string& name) const {
    const std::string folder = Folder(name);
    const std::string archive = (path() / "exports" / (name + ".tgz")).string();
    EXPECT_EQ(RunCommand({"tar", "-C", folder, "-czf", archive, "."}).exit_code, 0);
    fs::remove_all(folder);
    return archive;
  }
  fs::path List(const std::vector<std::string>& lines) const {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    WriteFile(path() / "list.txt", text);
    return path() / "list.txt";
  }
  fs::path Out() const { return path() / "out"; }
};

// The records of a JSON-lines file (the batch's state or its summary) by .pst file name.
std::map<std::string, cli::MailboxRecord> Records(const fs::path& file) {
  std::map<std::string, cli::MailboxRecord> rows;
  std::istringstream lines(ReadFile(file));
  for (std::string line; std::getline(lines, line);) {
    cli::MailboxRecord r = cli::RecordFromJson(line);
    EXPECT_EQ(rows.count(r.name), 0u) << "two rows for " << r.name << " in " << file;
    rows[r.name] = r;
  }
  return rows;
}

std::map<std::string, cli::MailboxRecord> Summary(const fs::path& out) {
  EXPECT_EQ(ReadFile(out / cli::kSummaryCsvName).find(cli::SummaryCsvHeader()), 0u);
  return Records(out / cli::kSummaryJsonName);
}

// Items by kind as pypff counts them, in the summary's order (messages, contacts,
// appointments, tasks, notes), after our checker has passed the file.
std::array<std::size_t, 5> ReadBack(const fs::path& pst) {
  // The sample's second calendar and task list are folders of their own.
  const std::map<std::string, std::size_t> kinds = {
      {"Contacts", 1}, {"Calendar", 2}, {"Team Calendar", 2}, {"Tasks", 3}, {"Errands", 3},
      {"Notes", 4}};
  std::array<std::size_t, 5> items{};
  for (const auto& [folder, subject, attachments] : CheckedMessageRows(pst)) {
    const auto kind = kinds.find(folder.substr(folder.rfind('\\') + 1));  // its last name
    ++items[kind == kinds.end() ? 0 : kind->second];
  }
  return items;
}

// Each .pst of the summary is complete, read back with the counts the summary gives.
void ExpectSummaryMatchesFiles(const fs::path& out, const std::set<std::string>& names) {
  const std::map<std::string, cli::MailboxRecord> rows = Summary(out);
  std::set<std::string> files;
  for (const auto& entry : fs::directory_iterator(out)) {
    if (entry.path().extension() == ".pst") files.insert(entry.path().filename().string());
  }
  EXPECT_EQ(files, names);
  for (const std::string& name : names) {
    ASSERT_EQ(rows.count(name), 1u) << name;
    const cli::MailboxRecord& r = rows.at(name);
    EXPECT_EQ(r.status, cli::kConverted) << name << ": " << r.error;
    EXPECT_EQ(r.pst, (out / name).string());
    EXPECT_EQ(r.bytes_out, fs::file_size(out / name)) << name;
    EXPECT_GT(r.bytes_in, 0u) << name;
    const std::array<std::size_t, 5> read = ReadBack(out / name);
    EXPECT_EQ(std::vector<std::size_t>(r.items.begin(), r.items.end()),
              std::vector<std::size_t>(read.begin(), read.end()))
        << name;
  }
}

// What /proc holds of a process, "" once it has ended.
std::string ProcFile(pid_t pid, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The command line of the conversion the batch runs for a .pst, found among its children
// by its arguments; "" when there is none.
std::string ConversionArgs(pid_t batch, const std::string& pst_name, pid_t* pid = nullptr) {
  std::istringstream ids(ProcFile(batch, "task/" + std::to_string(batch) + "/children"));
  for (pid_t id; ids >> id;) {
    std::string args = ProcFile(id, "cmdline");
    if (args.find(std::string("\0", 1) + pst_name + '\0') != std::string::npos) {
      if (pid) *pid = id;
      return args;
    }
  }
  return {};
}

// Two folders and an archive. Either the whole batch is killed, or one conversion crashes
// and the batch goes on; in both cases a second run converts only what was not finished.
TEST(BatchProgramTest, KilledOrCrashedMidwayAndRunAgainConvertsOnlyWhatWasNotFinished) {
  REQUIRE_PROGRAM();
  if (!HavePypff()) GTEST_SKIP() << "python3-pypff is not installed";
  for (const bool crash_one : {false, true}) {
    SCOPED_TRACE(crash_one ? "one conversion crashed" : "the batch killed");
    Mailboxes m;
    const fs::path list = m.List({m.Folder("alice@example.com"),
                                  m.Folder("bob@example.com", 700) + "\tbob",
                                  m.Archive("carol@example.com")});
    const fs::path state = m.Out() / cli::kStateFileName;
    // The conversion options are each conversion's own.
    const std::vector<std::string> passed = {"--threads=1", "--max-size=40G", "--keep-unread"};
    std::vector<std::string> command = {Program().string(), "--batch", list.string(),
                                        m.Out().string(), "--jobs", "2", "--threads", "1",
                                        "--max-size", "40G", "--keep-unread"};
    // Struck once alice is done and bob has committed a part of his file.
    const pid_t batch = StartCommand(command);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::string bob_args;  // bob's conversion's command line, read while it runs
    while (std::chrono::steady_clock::now() < give_up &&
           !(fs::exists(m.Out() / "bob.pst") && fs::exists(state) &&
             ReadFile(state).find("\"status\":\"converted\"") != std::string::npos)) {
      if (bob_args.empty()) bob_args = ConversionArgs(batch, "bob.pst");
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // As the kernel's out-of-memory killer would end one conversion.
    pid_t victim = batch;
    if (crash_one) ConversionArgs(batch, "bob.pst", &victim);
    ASSERT_GT(victim, 0);
    ::kill(victim, SIGKILL);
    for (const std::string& option : passed) {
      EXPECT_NE(bob_args.find('\0' + option + '\0'), std::string::npos) << option;
    }
    int status = 0;
    ::waitpid(batch, &status, 0);
    const std::map<std::string, cli::MailboxRecord> after = Records(state);
    ASSERT_EQ(after.count("bob.pst"), 1u);
    if (crash_one) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
      EXPECT_EQ(after.at("bob.pst").status, cli::kStopped);
      EXPECT_THAT(after.at("bob.pst").error, HasSubstr("ended by signal 9"));
      EXPECT_EQ(after.at("carol@example.com.pst").status, cli::kConverted);
    } else {
      ASSERT_EQ(after.at("bob.pst").status, cli::kConverting) << "bob ended before the kill";
      const auto bob_after_kill = fs::file_size(m.Out() / "bob.pst");
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_EQ(fs::file_size(m.Out() / "bob.pst"), bob_after_kill)
          << "a conversion went on after its batch was killed";
    }
    const auto alice_written = fs::last_write_time(m.Out() / "alice@example.com.pst");

    const CommandResult again = RunCommand(command);
    EXPECT_EQ(again.exit_code, 0) << again.out << again.err;
    EXPECT_THAT(again.out, ContainsRegex("Batch: [12] mailbox\\(es\\) converted by an earlier run"));
    EXPECT_THAT(again.out, HasSubstr("bob.pst: converted, 724 items"));
    EXPECT_EQ(fs::last_write_time(m.Out() / "alice@example.com.pst"), alice_written);
    ExpectSummaryMatchesFiles(m.Out(), {"alice@example.com.pst", "bob.pst", "carol@example.com.pst"});
  }
}

// The GNU parallel recipe of docs/batch, on this machine: the shards run at once into one
// folder and together convert every mailbox exactly once.
TEST(BatchProgramTest, ShardsRunAtOnceByGnuParallelConvertEachMailboxOnce) {
  REQUIRE_PROGRAM();
  if (!HaveProgram("parallel") || !HavePypff()) {
    GTEST_SKIP() << "GNU parallel or python3-pypff is not installed";
  }
  Mailboxes m;
  const fs::path list = m.List({m.Folder("alice"), m.Folder("bob"), m.Folder("carol")});
  const std::string shards =
      "seq 1 2 | parallel --will-cite --sshlogin : --jobs 2 --line-buffer --tag " + Program().string() +
      " --batch " + list.string() + " " + m.Out().string() + " --jobs 2 --shard {}/2";
  const CommandResult r = RunCommand({"/bin/sh", "-c", shards});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  for (const char* name : {"alice.pst", "bob.pst", "carol.pst"}) {
    const std::string line = std::string(name) + ": converted";
    EXPECT_EQ(r.out.find(line), r.out.rfind(line)) << name << " converted twice:\n" << r.out;
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
  }
  ExpectSummaryMatchesFiles(m.Out(), {"alice.pst", "bob.pst", "carol.pst"});
  const CommandResult again = RunCommand({"/bin/sh", "-c", shards});
  EXPECT_EQ(again.exit_code, 0) << again.err;
  EXPECT_THAT(again.out, Not(HasSubstr(": converted"))) << again.out;
}

// Lines that name nothing convertible are reported with their line number and skipped; the
// others convert, and the batch ends with 2. The list comes on standard input.
TEST(BatchProgramTest, LinesThatCannotConvertAreReportedAndTheOthersConvert) {
  REQUIRE_PROGRAM();
  Mailboxes m;
  const std::string good = m.Folder("good");
  m.Folder("taken");
  WriteFile(m.Out() / "taken.pst", "someone else's file");
  const fs::path list = m.List({
      "\xEF\xBB\xBF# a byte order mark, a comment, then an empty line", "", good + "\r",
      (m.path() / "missing").string(),           // line 4
      good + "\tgood",                           // 5: the name of line 3
      good + "\tsub/dir",                        // 6: not a file name
      "-",                                       // 7: standard input is the list
      (m.path() / "exports" / "taken").string(), // 8: its .pst name is taken
      "\tname"                                   // 9
  });
  // A second run finds the same faults and still leaves the file it did not make alone.
  for (int run = 1; run <= 2; ++run) {
    const CommandResult r = RunCommand({"/bin/sh", "-c",
        Program().string() + " --batch - " + m.Out().string() + " < " + list.string()});
    EXPECT_EQ(r.exit_code, 2) << r.out << r.err;
    for (const char* expected :
         {"line 4: cannot read ", "line 5: good.pst is already the name of line 3",
          "line 6: the name \"sub/dir\": ", "line 7: standard input cannot be a mailbox",
          "line 8: ", "line 9: no source before the tab"}) {
      EXPECT_THAT(r.err, HasSubstr(expected)) << run;
    }
    EXPECT_THAT(r.err, HasSubstr("taken.pst exists and was not made by this batch"));
    EXPECT_EQ(ReadFile(m.Out() / "taken.pst"), "someone else's file");
    const std::map<std::string, cli::MailboxRecord> rows = Summary(m.Out());
    EXPECT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows.at("good.pst").status, cli::kConverted);
    EXPECT_EQ(rows.at("#line 8").status, cli::kNotStarted);
  }
}

// The names a batch's mailboxes get and the summary rows that quote them. Reading the list
// and its shards are the program tests'.
TEST(BatchListTest, NamesComeFromTheSourceOrTheLine) {
  struct Case {
    std::string given;
    bool default_name;  // taken from a source path rather than given after a tab
    std::string name;   // "" when refused
  };
  const Case cases[] = {
      {"/exports/alice@example.com.tgz", true, "alice@example.com.pst"},
      {"/exports/bob.TAR.GZ", true, "bob.pst"},
      {"/exports/carol.zip", true, "carol.pst"},
      {"/exports/dave@example.com/", true, "dave@example.com.pst"},
      {"/exports/.tgz", true, ".tgz.pst"},  // the ending alone is the name
      {"/", true, ""},
      {"Eve", false, "Eve.pst"},
      {"Eve.PST", false, "Eve.PST"},
      {".pst", false, ""},
      {"a/b", false, ""},
      {"..", false, ""},
      {std::string(252, 'x'), false, ""},  // no room for ".pst" under 255 bytes
  };
  for (const Case& c : cases) {
    std::string why;
    const std::string name = c.default_name ? cli::DefaultPstName(c.given, why)
                                            : cli::PstFileName(c.given, why);
    EXPECT_EQ(name, c.name) << c.given;
    EXPECT_EQ(why.empty(), !c.name.empty()) << c.given << ": " << why;
  }
}

TEST(BatchListTest, SummaryRowsQuoteWhatWouldSplitThem) {
  cli::MailboxRecord r;
  r.line = 7;
  r.source = "/srv/a,b \"c\"";
  r.pst = "/out/x.pst";
  r.items = {1, 2, 3, 4, 5};
  r.seconds = 2.34;
  r.status = cli::kNotStarted;
  r.error = "first\nsecond";
  r.files_lost = 6;
  r.files_not_reached = 7;
  EXPECT_EQ(cli::SummaryCsvRow(r),
            "7,\"/srv/a,b \"\"c\"\"\",/out/x.pst,1,2,3,4,5,0,6,7,0,0,2.3,2,not started,\"first\nsecond\"\r\n");
  r.name = "x.pst";
  const cli::MailboxRecord back = cli::RecordFromJson(cli::RecordJsonLine(r));
  EXPECT_EQ(back.source, r.source);
  EXPECT_EQ(back.error, r.error);
  EXPECT_EQ(back.files_lost, 6u);
  EXPECT_EQ(back.files_not_reached, 7u);
}

}  // namespace
}  // namespace mailvane::testing
