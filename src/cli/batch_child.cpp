#include "cli/batch_child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mailvane::cli {

pid_t StartChild(const std::string& program, const std::vector<std::string>& args,
                 const std::filesystem::path& err_file, std::string& why) {
  // Everything the child needs is made before fork: after it, only async-signal-safe calls.
  std::vector<std::string> strings;
  strings.push_back("mailvane");
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (err < 0) {
    why = "cannot create " + err_file.string() + ": " + std::strerror(errno);
    return -1;
  }
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) {
    why = std::string("cannot open /dev/null: ") + std::strerror(errno);
    ::close(err);
    return -1;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);  // the batch died before the line above
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::execv(program.c_str(), argv.data());
    const char* message = "mailvane: cannot start the conversion program\n";
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, message, std::strlen(message));
    ::_exit(127);
  }
  const int fork_error = errno;
  ::close(err);
  ::close(null);
  if (pid < 0) {
    why = std::string("cannot start a process: ") + std::strerror(fork_error);
    return -1;
  }
  return pid;
}

ChildEnd ReapChild(pid_t child) {
  int status = 0;
  pid_t pid;
  do {
    pid = ::waitpid(child, &status, WNOHANG);
  } while (pid < 0 && errno == EINTR);
  ChildEnd end;
  if (pid <= 0) return end;
  end.pid = pid;
  if (WIFEXITED(status)) end.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
  return end;
}

}  // namespace mailvane::cli
