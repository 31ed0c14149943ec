#include "reliability/reliability_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace mailvane::reliability {

bool ShortForm() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return std::getenv("MAILVANE_SHORT_TESTS") != nullptr;
#endif
}

fs::path BuildDir() {
  const char* dir = std::getenv("MAILVANE_BUILD_DIR");
  // Without the variable: the build folder holding this test program (in its tests/).
  return dir != nullptr ? fs::path(dir) : fs::read_symlink("/proc/self/exe").parent_path().parent_path();
}

fs::path Program() { return BuildDir() / "src" / "mailvane"; }

ScratchDir::ScratchDir(const std::string& tag) {
  static std::atomic<int> counter{0};
  path_ = fs::temp_directory_path() / ("mailvane-rel-" + tag + "-" + std::to_string(::getpid()) +
                                       "-" + std::to_string(++counter));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Tests make read-only and odd entries; give the owner its rights back first.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Message(const std::string& subject, std::size_t body_bytes) {
  std::string body;
  while (body.size() < body_bytes) body += "The quick brown fox jumps over the lazy dog. ";
  return "From: Anna <anna@example.com>\r\nTo: carl@example.com\r\nSubject: " + subject +
         "\r\nDate: Mon, 4 Mar 2024 10:00:00 +0100\r\nMessage-ID: <" + subject +
         "@example.com>\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + body + "\r\n";
}

std::set<std::string> TreeListing(const fs::path& root) {
  std::set<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    out.insert(it->path().lexically_relative(root).string());
  }
  if (ec) throw std::system_error(ec, "cannot list " + root.string());
  return out;
}

namespace {

void Drain(int fd, std::string& into, bool& open) {
  char buffer[65536];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) {
    into.append(buffer, static_cast<std::size_t>(n));
  } else if (n == 0 || errno != EINTR) {
    open = false;
  }
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& argv, const fs::path& tmp_dir,
                      std::chrono::milliseconds deadline) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe");
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::string tmp = "TMPDIR=" + tmp_dir.string();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (pid == 0) {
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    ::putenv(const_cast<char*>(tmp.c_str()));
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  ProgramRun run;
  bool out_open = true;
  bool err_open = true;
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (out_open || err_open) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      run.timed_out = true;
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    fds[0].fd = out_open ? out_pipe[0] : -1;
    fds[1].fd = err_open ? err_pipe[0] : -1;
    const int ready = ::poll(fds, 2, static_cast<int>(std::min<long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "poll");
    if (ready <= 0) continue;
    if (fds[0].revents != 0) Drain(out_pipe[0], run.out, out_open);
    if (fds[1].revents != 0) Drain(err_pipe[0], run.err, err_open);
  }
  ::close(out_pipe[0]);
  ::close(err_pipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
  }
  if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  return run;
}

fs::path OnlyPst(const fs::path& folder) {
  fs::path found;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    if (e.path().extension() != ".pst") continue;
    if (!found.empty()) return {};
    found = e.path();
  }
  return found;
}

PypffSubjects SubjectsByPypff(const fs::path& pst) {
  static const char* kScript = R"(
import sys, pypff
f = pypff.file()
f.open(sys.argv[1])
def walk(folder):
    for i in range(folder.number_of_sub_messages):
        print(folder.get_sub_message(i).subject or "")
    for i in range(folder.number_of_sub_folders):
        walk(folder.get_sub_folder(i))
walk(f.get_root_folder())
)";
  ScratchDir tmp("pypff");
  const ProgramRun r = RunProgram({"/usr/bin/python3", "-c", kScript, pst.string()}, tmp.path(),
                                  std::chrono::seconds(120));
  PypffSubjects result;
  result.ok = r.exit_code == 0;
  result.error = r.err;
  std::size_t start = 0;
  while (start < r.out.size()) {
    const std::size_t end = r.out.find('\n', start);
    result.subjects.push_back(r.out.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::sort(result.subjects.begin(), result.subjects.end());
  return result;
}

}  // namespace mailvane::reliability
