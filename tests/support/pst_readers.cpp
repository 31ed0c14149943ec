#include "support/pst_readers.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <system_error>

#include <gtest/gtest.h>

#include "pst/check/pst_checker.h"
#include "support/files.h"

namespace mailvane::testsupport {
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}


// The whole of an unnamed file.
std::string ReadAll(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  std::fclose(file);
  return text;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int out, int err) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (pid == 0) {
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

}  // namespace

pid_t StartCommand(const std::vector<std::string>& argv, const CommandOptions& options) {
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) throw std::system_error(errno, std::generic_category(), "/dev/null");
  const pid_t pid = Spawn(argv, options.env, null, null);
  ::close(null);
  return pid;
}

// The output goes to unnamed files, so that no pipe fills up while the program runs.
CommandResult RunCommand(const std::vector<std::string>& argv, const CommandOptions& options) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  if (out == nullptr || err == nullptr) throw std::system_error(errno, std::generic_category(), "tmpfile");
  const pid_t pid = Spawn(argv, options.env, ::fileno(out), ::fileno(err));
  CommandResult run;
  const auto end = std::chrono::steady_clock::now() + options.deadline;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, options.deadline.count() > 0 ? WNOHANG : 0);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
    if (options.deadline.count() > 0 && !run.timed_out && std::chrono::steady_clock::now() >= end) {
      run.timed_out = true;
      ::kill(pid, SIGKILL);
    }
    if (done == 0) ::usleep(2000);
  }
  run.out = ReadAll(out);
  run.err = ReadAll(err);
  if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  return run;
}

bool HaveProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (::access((fs::path(dir) / name).c_str(), X_OK) == 0) return true;
  }
  return false;
}

bool HavePypff() {
  if (!HaveProgram("/usr/bin/python3")) return false;
  return RunCommand({"/usr/bin/python3", "-c", "import pypff"}).exit_code == 0;
}

const PypffFolder* PypffResult::Find(const std::string& backslash_path) const {
  for (const auto& f : folders) {
    std::string joined;
    for (const auto& name : f.path) joined += (&name == &f.path.front() ? "" : "\\") + name;
    if (joined == backslash_path) return &f;
  }
  return nullptr;
}

CommandResult RunPypff(const std::string& mode, const fs::path& pst) {
  return RunCommand({"/usr/bin/python3", (SourceDir() / "tests/support/pypff_read.py").string(), mode, pst.string()});
}

PypffResult ReadWithPypff(const fs::path& pst) {
  PypffResult result;
  result.run = RunPypff("folders", pst);
  std::vector<std::string> stack;
  for (const auto& line : Lines(result.run.out)) {
    if (line == "done") {
      result.ok = result.run.exit_code == 0 && result.run.err.empty();
      continue;
    }
    std::vector<std::string> cells;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, '\t');) cells.push_back(cell);
    if (cells.size() != 6 || cells[0] != "folder") continue;
    const auto depth = static_cast<std::size_t>(std::stoi(cells[1]));
    PypffFolder folder;
    if (depth > 0) {
      stack.resize(depth - 1);  // the root has no name in the path
      stack.push_back(FromHex(cells[2]));
      folder.path = stack;
    }
    if (cells[3] != "-") folder.container_class = FromHex(cells[3].substr(1));
    folder.messages = std::stoi(cells[4]);
    folder.sub_folders = std::stoi(cells[5]);
    result.folders.push_back(std::move(folder));
  }
  return result;
}

PypffMessages ReadMessagesWithPypff(const fs::path& pst) {
  PypffMessages result;
  result.run = RunPypff("messages", pst);
  for (const auto& line : Lines(result.run.out)) {
    if (line == "done") result.ok = result.run.exit_code == 0;
    std::vector<std::string> cells;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, '\t');) cells.push_back(cell);
    if (cells.size() != 4 || cells[0] != "message") continue;
    result.messages.push_back({FromHex(cells[1]), FromHex(cells[2]), std::stoi(cells[3])});
  }
  return result;
}

std::vector<MessageRow> CheckedMessageRows(const fs::path& pst) {
  const pst::check::CheckResult check = pst::check::CheckPstFile(pst);
  EXPECT_TRUE(check.clean()) << pst << "\n" << pst::check::FormatFindings(check);
  const PypffMessages read = ReadMessagesWithPypff(pst);
  EXPECT_TRUE(read.ok) << pst << "\n" << read.run.err;
  std::vector<MessageRow> rows;
  for (const PypffMessage& m : read.messages) {
    const std::size_t below_top = m.folder.find('\\');
    rows.emplace_back(below_top == std::string::npos ? "" : m.folder.substr(below_top + 1), m.subject,
                      m.attachments);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

PffinfoResult ReadWithPffinfo(const fs::path& pst) {
  PffinfoResult result;
  result.run = RunCommand({"pffinfo", pst.string()});
  result.ok = result.run.exit_code == 0 && result.run.err.empty() &&
              result.run.out.find("Message store:") != std::string::npos;
  return result;
}

PffexportResult ReadWithPffexport(const fs::path& pst, const fs::path& work_dir) {
  PffexportResult result;
  const fs::path target = work_dir / "export";
  result.run = RunCommand({"pffexport", "-q", "-f", "all", "-t", target.string(), pst.string()});
  for (const auto& line : Lines(result.run.out + "\n" + result.run.err)) {
    if (line.find("Skipped item") != std::string::npos ||
        line.find("Unable to") != std::string::npos ||
        line.find("rror") != std::string::npos) {
      result.problem_lines.push_back(line);
    }
  }
  result.ok = result.run.exit_code == 0 && result.problem_lines.empty();
  return result;
}

ReadpstResult ReadWithReadpst(const fs::path& pst, const fs::path& out_dir) {
  ReadpstResult result;
  fs::create_directories(out_dir);
  result.run = RunCommand({"readpst", "-j", "0", "-D", "-r", "-e", "-8", "-cv", "-o",
                           out_dir.string(), pst.string()});
  const std::string processing = "Processing Folder \"";
  for (const auto& line : Lines(result.run.out)) {
    if (line.rfind(processing, 0) == 0 && line.size() > processing.size() && line.back() == '"') {
      result.processed_folders.push_back(
          line.substr(processing.size(), line.size() - processing.size() - 1));
      continue;
    }
    // \t"NAME" - N items done, M items skipped.
    const std::size_t done_at = line.find(" items done, ");
    const std::size_t dash = line.rfind("\" - ", done_at);
    if (done_at != std::string::npos && dash != std::string::npos) {
      ReadpstSummary s;
      const std::size_t open = line.find('"');
      s.folder = line.substr(open + 1, dash - open - 1);
      s.done = std::stoi(line.substr(dash + 4, done_at - dash - 4));
      s.skipped = std::stoi(line.substr(done_at + 13));
      result.skipped_items += s.skipped;
      result.summaries.push_back(s);
    }
  }
  result.ok = result.run.exit_code == 0 && result.run.err.empty() && result.skipped_items == 0;
  return result;
}

}  // namespace mailvane::testsupport
