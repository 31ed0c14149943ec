#include "support/pst_readers.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace mailvane::testsupport {
namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

fs::path TempFile(const char* tag) {
  static int counter = 0;
  return fs::temp_directory_path() /
         ("mailvane-reader-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + "-" + tag);
}

std::string FromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Walks the store depth first. One line per folder: depth, hex name, hex class or "-",
// messages, sub-folders. Hex keeps any name (tabs, newlines, emoji) intact.
constexpr const char* kPypffScript = R"PY(
import sys, pypff
f = pypff.file()
f.open(sys.argv[1])
def hx(s): return s.encode('utf-8').hex() if s else ''
def cls(fo):
    try:
        for e in fo.get_record_set(0).entries:
            if e.entry_type == 0x3613:
                d = e.data or b''
                return (d.decode('utf-16-le') if e.value_type == 0x1f else d.decode('latin-1')).rstrip('\0')
    except Exception as ex:
        print('error\t' + str(ex))
    return None
def walk(fo, depth):
    c = cls(fo)
    print('folder\t%d\t%s\t%s\t%d\t%d' % (depth, hx(fo.name), '-' if c is None else 'c' + hx(c),
          fo.number_of_sub_messages, fo.number_of_sub_folders))
    for i in range(fo.number_of_sub_folders):
        walk(fo.get_sub_folder(i), depth + 1)
try:
    ms = f.get_message_store()
except Exception:
    ms = None
walk(f.get_root_folder(), 0)
print('done')
)PY";

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv) {
  CommandResult result;
  const fs::path out_path = TempFile("out");
  const fs::path err_path = TempFile("err");
  const int out_fd = ::open(out_path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
  const int err_fd = ::open(err_path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
  if (out_fd < 0 || err_fd < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot create reader output files");
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ::execvp(args[0], args.data());
    _exit(127);
  }
  ::close(out_fd);
  ::close(err_fd);
  if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork failed");
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid failed");
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadWhole(out_path);
  result.err = ReadWhole(err_path);
  fs::remove(out_path);
  fs::remove(err_path);
  return result;
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
  std::vector<std::string> want;
  if (!backslash_path.empty()) {
    std::size_t start = 0;
    for (;;) {
      const std::size_t cut = backslash_path.find('\\', start);
      want.push_back(backslash_path.substr(start, cut - start));
      if (cut == std::string::npos) break;
      start = cut + 1;
    }
  }
  for (const auto& f : folders) {
    if (f.path == want) return &f;
  }
  return nullptr;
}

PypffResult ReadWithPypff(const fs::path& pst) {
  PypffResult result;
  result.run = RunCommand({"/usr/bin/python3", "-c", kPypffScript, pst.string()});
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
    } else {
      result.store_name = FromHex(cells[2]);
      stack.clear();
    }
    if (cells[3] != "-") folder.container_class = FromHex(cells[3].substr(1));
    folder.messages = std::stoi(cells[4]);
    folder.sub_folders = std::stoi(cells[5]);
    result.folders.push_back(std::move(folder));
  }
  if (result.run.out.find("error\t") != std::string::npos) result.ok = false;
  return result;
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
  const fs::path root = work_dir / "export.export";
  std::error_code ec;
  if (fs::is_directory(root, ec)) {
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
      if (!it->is_directory()) continue;
      // pffexport writes an item as a folder "MessageNNNNN" with files in it; a folder
      // of the store holds only directories of its own or item folders.
      const std::string name = it->path().filename().string();
      if (name.rfind("Message", 0) == 0 || name.rfind("Attachments", 0) == 0 ||
          name.rfind("Contact", 0) == 0 || name.rfind("Appointment", 0) == 0 ||
          name.rfind("Task", 0) == 0 || name.rfind("Note", 0) == 0) {
        if (fs::exists(it->path() / "Message.txt") || fs::exists(it->path() / "OutlookHeaders.txt") ||
            name.rfind("Attachments", 0) == 0) {
          it.disable_recursion_pending();
          continue;
        }
      }
      std::string rel = fs::relative(it->path(), root).string();
      std::replace(rel.begin(), rel.end(), '/', '\\');
      result.folders.push_back(rel);
    }
  }
  std::sort(result.folders.begin(), result.folders.end());
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
