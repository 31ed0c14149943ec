// One hostile export through the built mailvane program, into a target where earlier runs'
// names are taken by planted files and links: it converts without a crash or a hang, writes
// nothing outside the target folder and its private temporary folder, never writes through
// what was planted, and names in the report what it could not take or had to cut.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "run/store_names.h"
#include "support/files.h"
#include "support/pst_readers.h"

namespace mailvane::reliability {
namespace {

using namespace testsupport;

using ::testing::HasSubstr;
using ::testing::Not;

// A big file written a megabyte at a time: head, size bytes of fill, tail.
void WriteBig(const fs::path& path, const std::string& head, std::size_t size, char fill,
              const std::string& tail = "") {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << head;
  const std::string chunk(1 << 20, fill);
  for (std::size_t written = 0; written < size; written += chunk.size()) out << chunk;
  out << tail;
  ASSERT_TRUE(out.good()) << path;
}

// A calendar record whose data file is the given message.
void WriteAppointment(const fs::path& e, const std::string& name, const std::string& message) {
  WriteFile(e / "Calendar" / (name + ".appt.meta"),
            "x\r\n/Calendar/:4:desc5:Lunch1:n5:Lunch2:st15:20240304T1200002:et15:20240304T130000");
  WriteFile(e / "Calendar" / (name + ".appt"), message);
}

// Files of every kind empty or binary.
void AddEmptyAndBinaryFiles(const fs::path& e) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919 + 13) % 256);
  for (const std::string& content : {std::string(), binary}) {
    const std::string tag = content.empty() ? "empty" : "binary";
    WriteFile(e / "Inbox" / (tag + ".eml"), content);
    WriteFile(e / "Contacts" / (tag + ".meta"), content);
    WriteFile(e / "Calendar" / (tag + ".appt.meta"), content);
    WriteFile(e / "Calendar" / (tag + ".appt"), content);
    WriteFile(e / "Tasks" / (tag + ".task.meta"), content);
    WriteFile(e / "Notebook" / (tag + ".wiki.meta"), content);
  }
}

// Names no file system of Windows takes, 100 nested folders, and links that loop.
void AddAwkwardNames(const fs::path& e) {
  WriteFile(e / "Inbox" / "bad\xff\xfe name.eml", Rfc822("invalid utf8"));
  WriteFile(e / "Inbox" / "back\\slash.eml", Rfc822("backslash"));
  WriteFile(e / "Inbox" / "co:lon.eml", Rfc822("colon"));
  WriteFile(e / "Inbox" / "new\nline.eml", Rfc822("newline"));
  WriteFile(e / "Odd\\Folder:\n" / "1.eml", Rfc822("odd folder"));
  fs::path deep = e;
  for (int i = 0; i < 100; ++i) deep /= "d" + std::to_string(i);
  WriteFile(deep / "deep.eml", Rfc822("deep"));
  fs::create_directories(e / "Loop");
  fs::create_directory_symlink("..", e / "Loop" / "up");
  fs::create_symlink("b.eml", e / "Loop" / "a.eml");
  fs::create_symlink("a.eml", e / "Loop" / "b.eml");
}

// Attachment names that climb out of a staging folder, MIME nested thousands deep, one
// base64 line of megabytes.
void AddMimeBombs(const fs::path& e) {
  const std::string climbing =
      "Subject: climb\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
      "Content-Type: text/plain\r\n\r\nsee attached\r\n--b\r\n"
      "Content-Type: application/octet-stream; name=\"../../x\"\r\n"
      "Content-Disposition: attachment; filename=\"../../x\"\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nQUJD\r\n--b\r\n"
      "Content-Type: text/plain; name=\"..\\\\..\\\\y\"\r\nContent-Disposition: attachment\r\n\r\n"
      "y\r\n--b--\r\n";
  WriteFile(e / "Inbox" / "climb.eml", climbing);
  WriteAppointment(e, "climb", climbing);
  const int depth = ShortTests() ? 2000 : 5000;
  std::string nested = "Subject: nested\r\n";
  for (int i = 0; i < depth; ++i) {
    nested += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" +
              std::to_string(i) + "\r\n";
  }
  nested += "Content-Type: text/plain\r\n\r\ndeep\r\n";
  for (int i = depth - 1; i >= 0; --i) nested += "--b" + std::to_string(i) + "--\r\n";
  WriteFile(e / "Inbox" / "nested.eml", nested);
  WriteBig(e / "Inbox" / "base64.eml",
           "Subject: base64\r\nContent-Type: application/octet-stream; name=big.bin\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n",
           (ShortTests() ? 8u : 64u) << 20, 'A', "\r\n");
}

// Messages shaped to make the parser hold far more than their size: each is converted, cut
// where it passes a limit, and the report says what was cut.
struct Shaped {
  std::string name;
  std::string body;  // after "Subject: <name>"
  int attachments;
};

std::vector<Shaped> ShapedToExhaustMemory() {
  std::string parts;
  for (int i = 0; i < 4000; ++i) {
    parts += "--b\r\nContent-Disposition: attachment; filename=p" + std::to_string(i) + ".txt\r\n\r\nx\r\n";
  }
  const std::string mb(1 << 20, 'a');
  std::string lines;  // 3.4 MB of base64 lines: no headers, however many
  for (int i = 0; i < 45000; ++i) lines += std::string(76, 'Q') + "\r\n";
  std::string to = "To: ";
  for (int i = 0; i < 2500; ++i) to += (i ? ",\r\n r" : "r") + std::to_string(i) + "@example.com";
  return {
      {"parts", "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n" + parts + "--b--\r\n", 3000},
      {"header", "X-Long: " + mb + "\r\n\r\nbody\r\n", 0},
      {"inner", "Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\n"
                "Content-Type: message/rfc822\r\n\r\nSubject: in\r\nX-Inner: " + mb +
                "\r\n\r\ninner body\r\n--o--\r\n",
       1},
      {"recipients", to + "\r\n\r\nbody\r\n", 0},
      {"wide", "Content-Type: multipart/mixed; boundary=w\r\n\r\n--w\r\n"
               "Content-Type: text/html\r\n\r\n<p>" + mb + "</p>\r\n--w\r\n"
               "Content-Type: text/plain; name=a.txt\r\n\r\nX-Not-A-Header: " + mb + "\r\n--w--\r\n",
       1},
      {"encoded", "Content-Type: multipart/mixed; boundary=e\r\n\r\n--e\r\n"
                  "Content-Type: message/rfc822\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                  lines + "--e--\r\n",
       1},
  };
}

// Every name the next seconds could give the store and its report, taken by a file or by
// a link to victim; how many were planted.
int PlantEarlierRuns(const fs::path& out, const fs::path& victim) {
  const std::time_t now = std::time(nullptr);
  for (int s = 0; s < 20; ++s) {
    const std::time_t t = now + s;
    std::tm local{};
    localtime_r(&t, &local);
    const fs::path pst = run::PstPathFor(out.string() + "/", local);
    const fs::path log = fs::path(pst).replace_extension(".log");
    if (s % 2 == 0) {
      WriteFile(pst, "old store");
      fs::create_symlink(victim, log);
    } else {
      fs::create_symlink(victim, pst);
      WriteFile(log, "old report");
    }
  }
  return 40;
}

TEST(HostileExportTest, EveryHostileRecordInOneExportIntoAPlantedTarget) {
  const fs::path program = BuiltProgram("mailvane");
  if (!fs::exists(program)) GTEST_SKIP() << program << " is not built";
  ScratchDir dir("hostile");
  const fs::path e = dir.path() / "Export";
  const fs::path out = dir.path() / "out";
  const fs::path tmp = dir.path() / "tmp";
  AddEmptyAndBinaryFiles(e);
  AddAwkwardNames(e);
  AddMimeBombs(e);
  const std::vector<Shaped> shaped = ShapedToExhaustMemory();
  for (const Shaped& s : shaped) WriteFile(e / "Inbox" / (s.name + ".eml"), "Subject: " + s.name + "\r\n" + s.body);
  // An appointment's data file goes through the same limits.
  WriteAppointment(e, "parts", "Subject: Lunch\r\n" + shaped[0].body);

  // A contact of one line of 200 MB when asked for (it takes minutes on a busy machine), 32 MB
  // otherwise.
  const std::size_t huge = (std::getenv("MAILVANE_LONG_TESTS") != nullptr ? 200u : 32u) << 20;
  WriteBig(e / "Contacts" / "huge.meta", "d3:fldd9:firstName4:Huge5:notes" + std::to_string(huge) + ":", huge, 'n');

  // Twenty thousand files in one folder: one message in twenty, the rest the records a real
  // export puts beside them.
  const int files = ShortTests() ? 4000 : 20000;
  for (int i = 0; i < files; ++i) {
    const bool eml = i % 20 == 0;
    WriteFile(e / "Many" / (std::to_string(i) + (eml ? ".eml" : ".eml.meta")), eml ? Rfc822("many") : "x");
  }

  // Special files named like messages: a FIFO opened for reading would block the run for
  // ever, the deadline catches that.
  ASSERT_EQ(::mkfifo((e / "Inbox" / "fifo.eml").c_str(), 0644), 0);
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = (e / "Inbox" / "socket.eml").string();
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path.c_str());
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const bool device = ::mknod((e / "Inbox" / "device.eml").c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0;

  const fs::path victim = dir.path() / "victim";
  WriteFile(victim, "precious");
  const int planted = PlantEarlierRuns(out, victim);
  fs::create_directories(tmp);
  const std::set<std::string> before = TreeListing(dir.path());
  const CommandResult run =
      RunCommand({program.string(), "--quiet", e.string(), out.string()},
                 {.env = {"TMPDIR=" + tmp.string()}, .deadline = std::chrono::seconds(ShortTests() ? 600 : 300)});
  ::close(s);
  EXPECT_FALSE(run.timed_out) << "the conversion hung";
  EXPECT_EQ(run.signal, 0) << "the conversion crashed\n" << run.err;
  EXPECT_EQ(run.exit_code, 1) << run.err;

  // Outside the target nothing changed (an attachment named "../../x" staged in the
  // temporary folder would be dir/x); the temporary folder is empty again; the target gained
  // one .pst and its report, and what was planted there is as it was.
  const std::set<std::string> after = TreeListing(dir.path());
  std::vector<std::string> in_target;
  for (const std::string& p : after) {
    if (before.contains(p)) continue;
    if (p.rfind("out/", 0) == 0) {
      in_target.push_back(p.substr(4));
    } else {
      ADD_FAILURE() << "written outside the target folder: " << p;
    }
  }
  for (const std::string& p : before) EXPECT_TRUE(after.contains(p)) << p << " went";
  EXPECT_TRUE(TreeListing(tmp).empty()) << "the temporary folder was not cleaned up";
  EXPECT_EQ(ReadFile(victim), "precious");
  int intact = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(out)) {
    const std::string ext = entry.path().extension();
    intact += entry.is_symlink() || (ext == ".pst" && ReadFile(entry.path()) == "old store") ||
              (ext == ".log" && ReadFile(entry.path()) == "old report");
  }
  EXPECT_EQ(intact, planted);
  ASSERT_EQ(in_target.size(), 2u) << ::testing::PrintToString(in_target);
  fs::path pst;
  std::string report;
  for (const std::string& name : in_target) {
    if (fs::path(name).extension() == ".pst") pst = out / name;
    if (fs::path(name).extension() == ".log") report = ReadFile(out / name);
  }
  ASSERT_FALSE(pst.empty());

  // GMime makes a message of any bytes; records without their keys give no item; every
  // message of the twenty thousand files arrives, and so does the huge contact.
  EXPECT_THAT(report, HasSubstr("Items written: " + std::to_string(files / 20 + 17) +
                                " messages, 1 contacts, 2 appointments, 0 tasks, 0 notes\n"))
      << report;
  EXPECT_THAT(report, HasSubstr("\nFailures: " + std::to_string(device ? 5 : 4) + "\n"));
  // What each file the report names must say ("" anything), and the files it never names.
  std::vector<std::pair<std::string, std::string>> named = {
      {"/binary.appt.meta", ""}, {"/empty.meta", ""}, {"/binary.task.meta", ""},
      {"/empty.wiki.meta", ""}, {"/fifo.eml | ", "FIFO"}, {"/socket.eml | ", "socket"},
      {"/Loop/a.eml | ", "symbolic links"}, {"/Loop/b.eml | ", "symbolic links"},
      {"/parts.appt.meta | ", "its data file: the message holds more than 3000"},
      {"/parts.eml | ", "holds more than 3000 MIME parts; the parts after that were left out"},
      {"/header.eml | ", "the X-Long header field (1048586 bytes) was cut to its first 256 KB"},
      {"/inner.eml | ", "the X-Inner header field"},
      {"/recipients.eml | ", "the message names 2500 recipients; only the first 2000 were taken"}};
  if (device) named.emplace_back("/device.eml | ", "device");
  // Long lines of bodies are no headers and are never cut.
  const std::string unnamed[] = {"/climb.eml | ", "/climb.appt.meta | ", "/base64.eml | ", "/huge.meta",
                                 "/Many/", "/wide.eml | ", "/encoded.eml | "};
  for (const auto& [file, says] : named) {
    bool said = false;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
      said = said || (line.find(file) != std::string::npos && line.find(says) != std::string::npos);
    }
    EXPECT_TRUE(said) << file << " " << says << "\n" << report;
  }
  for (const std::string& file : unnamed) EXPECT_THAT(report, Not(HasSubstr(file))) << file;

  std::map<std::string, int> attachments;  // by subject, in the store our checker passes
  for (const auto& [folder, subject, count] : CheckedMessageRows(pst)) attachments[subject] = count;
  for (const Shaped& c : shaped) {
    ASSERT_TRUE(attachments.contains(c.name)) << "no item for " << c.name;
    EXPECT_EQ(attachments[c.name], c.attachments) << c.name;
  }
}

}  // namespace
}  // namespace mailvane::reliability
