#include "cli/batch_command.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <thread>

#include "cli/batch_child.h"
#include "cli/batch_list.h"
#include "cli/batch_progress.h"
#include "cli/batch_state.h"
#include "cli/conversion_result.h"
#include "cli/option_value.h"

namespace mailvane::cli {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// What a conversion may need at its peak, with room for the largest messages.
constexpr std::uint64_t kMemoryPerJob = 256ull << 20;

struct BatchArguments {
  std::string list;
  std::string target;
  int jobs = 0;  // 0: DefaultJobs()
  Shard shard;
  bool quiet = false;
  bool help = false;
  // --threads, --max-size and --keep-unread, checked here and given to every conversion.
  std::vector<std::string> conversion_options;
  std::string error;
};

BatchArguments ParseBatch(const std::vector<std::string>& args) {
  BatchArguments a;
  std::vector<std::string> positional;
  bool options_end = false;
  for (std::size_t i = 0; i < args.size() && a.error.empty(); ++i) {
    const std::string& arg = args[i];
    if (options_end) {
      positional.push_back(arg);
    } else if (std::optional<std::string> list = OptionValue(args, i, "--batch", a.error)) {
      a.list = *list;
    } else if (std::optional<std::string> jobs = OptionValue(args, i, "--jobs", a.error)) {
      std::size_t used = 0;
      try {
        a.jobs = std::stoi(*jobs, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (a.error.empty() && (used != jobs->size() || a.jobs < 1)) {
        a.error = "--jobs takes a number of at least 1";
      }
    } else if (std::optional<std::string> shard = OptionValue(args, i, "--shard", a.error)) {
      if (a.error.empty()) a.error = ParseShard(*shard, a.shard);
    } else if (std::optional<std::string> size = OptionValue(args, i, "--max-size", a.error)) {
      if (a.error.empty() && MaxSizeValue(*size, a.error)) {
        a.conversion_options.push_back("--max-size=" + *size);
      }
    } else if (std::optional<std::string> threads = OptionValue(args, i, "--threads", a.error)) {
      if (a.error.empty() && ThreadsValue(*threads, a.error)) {
        a.conversion_options.push_back("--threads=" + *threads);
      }
    } else if (arg == "--keep-unread") {
      a.conversion_options.push_back(arg);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "--quiet" || arg == "-q") {
      a.quiet = true;
    } else if (arg == "--help" || arg == "-h") {
      a.help = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      a.error = "unknown option " + arg + " (with --batch)";
    } else {
      positional.push_back(arg);
    }
  }
  if (a.error.empty() && !a.help) {
    if (a.list.empty()) {
      a.error = "--batch needs a LIST";
    } else if (positional.size() != 1) {
      a.error = positional.empty() ? "--batch needs a TARGET_FOLDER" : "too many arguments";
    } else {
      a.target = fs::absolute(positional[0]).lexically_normal().string();
    }
  }
  return a;
}

std::uint64_t ReadMemAvailable() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::uint64_t kb = 0;
  std::string unit;
  while (meminfo >> key >> kb >> unit) {
    if (key == "MemAvailable:") return kb * 1024;
  }
  return 0;
}

// A container's own limit (cgroup v2), which a pod or a Slurm job sets.
std::uint64_t ReadCgroupMemoryLeft() {
  std::ifstream max_file("/sys/fs/cgroup/memory.max");
  std::ifstream current_file("/sys/fs/cgroup/memory.current");
  std::uint64_t max = 0;
  std::uint64_t current = 0;
  if (!(max_file >> max) || !(current_file >> current) || current >= max) return 0;
  return max - current;
}

// Bytes of the regular files of a source: what progress and the summary count.
std::uint64_t SourceBytes(const std::string& source) {
  std::error_code ec;
  if (!fs::is_directory(source, ec)) {
    const std::uintmax_t size = fs::file_size(source, ec);
    return ec ? 0 : size;
  }
  std::uint64_t total = 0;
  for (fs::recursive_directory_iterator it(source, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code size_ec;
    if (it->is_regular_file(size_ec)) {
      const std::uintmax_t size = it->file_size(size_ec);
      if (!size_ec) total += size;
    }
  }
  return total;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "?";
  return name;
}

// The last non-empty line a child wrote on its error output.
std::string LastLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::string last;
  while (std::getline(in, line)) {
    if (!line.empty()) last = line;
  }
  const std::string prefix = "mailvane: ";
  if (last.compare(0, prefix.size(), prefix) == 0) last.erase(0, prefix.size());
  return last;
}

void RemoveFile(const fs::path& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

struct Running {
  BatchEntry entry;
  pid_t pid = -1;
  FileLock lock;
  Clock::time_point started;
  std::uint64_t bytes_in = 0;
};

class Batch {
 public:
  Batch(const BatchArguments& args, CommandLineIo io)
      : args_(args),
        io_(io),
        state_(args.target),
        progress_(io.out, io.terminal, args.quiet, io.width),
        host_(HostName()) {}

  int Run(const std::vector<BatchEntry>& entries);

 private:
  void Plan(const std::vector<BatchEntry>& entries);
  void Start(const BatchEntry& entry);
  void End(Running& running, const ChildEnd& end);
  void NotStarted(const BatchEntry& entry, const std::string& why);
  MailboxRecord NewRecord(const BatchEntry& entry) const;

  const BatchArguments& args_;
  CommandLineIo io_;
  BatchState state_;
  BatchProgress progress_;
  std::string host_;
  std::vector<BatchEntry> pending_;
  std::vector<Running> running_;
  std::map<std::string, std::uint64_t> bytes_in_;
  std::map<std::string, int> outcomes_;  // mailboxes by status
};

// Mailboxes the batch could not start are kept apart from the records of .pst names: a
// duplicate line never takes the record of the line that owns the name, and a record of a
// name never claims a file that this batch did not make.
std::string NotStartedKey(const BatchEntry& entry) { return "#line " + std::to_string(entry.line); }

MailboxRecord Batch::NewRecord(const BatchEntry& entry) const {
  MailboxRecord r;
  r.line = entry.line;
  r.position = entry.position;
  r.source = entry.source;
  r.name = entry.name;
  const auto bytes = bytes_in_.find(entry.name);
  if (bytes != bytes_in_.end()) r.bytes_in = bytes->second;
  return r;
}

void Batch::NotStarted(const BatchEntry& entry, const std::string& why) {
  const std::string key = NotStartedKey(entry);
  progress_.ClearLine();
  io_.err << "mailvane: line " << entry.line << ": " << why << "; not converted\n";
  MailboxRecord r = NewRecord(entry);
  r.name = key;
  r.status = kNotStarted;
  r.exit_status = 2;
  r.error = why;
  state_.Update([&](Records& records) {
    records[key] = r;
    return true;
  });
  ++outcomes_[r.status];
  progress_.Ended("line " + std::to_string(entry.line) + " (" + entry.source + "): not started", 0);
}

void Batch::Plan(const std::vector<BatchEntry>& entries) {
  int done = 0;
  std::vector<BatchEntry> unreadable;
  state_.Update([&](Records& records) {
    bool changed = false;
    for (const BatchEntry& e : entries) {
      if (!args_.shard.Takes(e.position)) continue;
      // What kept this shard's lines from starting is found again, or has been mended.
      changed = records.erase(NotStartedKey(e)) > 0 || changed;
      const auto it = records.find(e.name);
      if (!e.error.empty()) {
        unreadable.push_back(e);
      } else if (it != records.end() && it->second.Completed() && it->second.source == e.source) {
        ++done;
        ++outcomes_[it->second.status];
      } else {
        pending_.push_back(e);
      }
    }
    return changed;
  });
  std::uint64_t bytes = 0;
  for (const BatchEntry& e : pending_) bytes += bytes_in_[e.name] = SourceBytes(e.source);
  progress_.SetTotal(done + static_cast<int>(unreadable.size() + pending_.size()), bytes);
  progress_.AlreadyDone(done);
  if (done > 0 && !args_.quiet) {
    io_.out << "Batch: " << done << " mailbox(es) converted by an earlier run, skipped\n";
  }
  for (const BatchEntry& e : unreadable) NotStarted(e, e.error);
}

// Takes the mailbox, clears what an interrupted conversion of it left and starts its child.
void Batch::Start(const BatchEntry& entry) {
  Running run;
  run.entry = entry;
  run.lock = state_.TryLockMailbox(entry.name);
  if (!run.lock.Held()) {
    progress_.ClearLine();
    io_.err << "mailvane: line " << entry.line << ": " << entry.name
            << " is being converted by another process; left to it\n";
    progress_.Ended(entry.name + ": left to another process", bytes_in_[entry.name]);
    return;
  }
  const fs::path pst = state_.Target() / entry.name;
  std::string refused;
  bool finished = false;
  state_.Update([&](Records& records) {
    const auto it = records.find(entry.name);
    if (it != records.end() && it->second.Completed() && it->second.source == entry.source) {
      finished = true;  // another process converted it since the plan was made
      return false;
    }
    std::error_code ec;
    if (it == records.end() || it->second.Completed()) {
      if (fs::exists(fs::symlink_status(pst, ec))) {
        refused = pst.string() +
                  (it == records.end() ? " exists and was not made by this batch"
                                       : " was made from " + it->second.source) +
                  "; move it away or give this line another name after a tab";
        return false;
      }
    } else {
      // Ours and not finished: converted again from the start into a fresh file.
      for (const std::string& file : {it->second.pst, pst.string()}) {
        if (file.empty()) continue;
        RemoveFile(file);
        RemoveFile(run::RunReport::PathBeside(file));
      }
    }
    MailboxRecord r = NewRecord(entry);
    r.pst = pst.string();
    r.host = host_;
    r.pid = ::getpid();
    records[entry.name] = r;
    return true;
  });
  if (finished) {
    ++outcomes_[std::string(kConverted)];
    progress_.Ended(entry.name + ": converted by another process", bytes_in_[entry.name]);
    return;
  }
  if (!refused.empty()) {
    run.lock = FileLock();
    NotStarted(entry, refused);
    return;
  }
  const fs::path result = state_.WorkFile(entry.name, ".result");
  RemoveFile(result);
  std::string why;
  run.started = Clock::now();
  run.bytes_in = bytes_in_[entry.name];
  std::vector<std::string> child_args = {"--quiet", "--name", entry.name, "--result", result.string()};
  child_args.insert(child_args.end(), args_.conversion_options.begin(), args_.conversion_options.end());
  child_args.insert(child_args.end(), {"--", entry.source, state_.Target().string()});
  run.pid = StartChild("/proc/self/exe", child_args, state_.WorkFile(entry.name, ".err"), why);
  if (run.pid < 0) {
    run.lock = FileLock();
    NotStarted(entry, why);
    return;
  }
  running_.push_back(std::move(run));
}

void Batch::End(Running& running, const ChildEnd& end) {
  const BatchEntry& entry = running.entry;
  MailboxRecord r = NewRecord(entry);
  r.seconds = std::chrono::duration<double>(Clock::now() - running.started).count();
  const fs::path result_file = state_.WorkFile(entry.name, ".result");
  const fs::path err_file = state_.WorkFile(entry.name, ".err");
  std::optional<ConversionResult> result;
  std::error_code ec;
  if (end.exit_code >= 0 && fs::exists(result_file, ec)) {
    try {
      std::ifstream in(result_file, std::ios::binary);
      result = ConversionResultFromJson({std::istreambuf_iterator<char>(in), {}});
    } catch (const std::runtime_error& e) {
      r.error = result_file.string() + ": " + e.what();
    }
  }
  if (result) {
    r.pst = result->pst;
    r.report = result->report;
    r.items = result->items;
    r.files_failed = result->files_failed;
    r.files_lost = result->files_lost;
    r.files_not_reached = result->files_not_reached;
    r.error = result->error;
    r.exit_status = result->exit_status;
  } else {
    r.pst = (state_.Target() / entry.name).string();
    r.exit_status = end.exit_code >= 0 ? end.exit_code : 1;
    if (r.error.empty()) r.error = LastLine(err_file);
    if (end.signal != 0) {
      r.error = "ended by signal " + std::to_string(end.signal) +
                (r.error.empty() ? std::string() : ": " + r.error);
    }
  }
  if (r.exit_status == 0 && result) {
    r.status = kConverted;
  } else if (r.exit_status == 1 && result) {
    r.status = kConvertedWithFailures;
  } else if (result && result->exit_status != 1) {
    r.status = kNotStarted;  // the conversion refused its source or could not set up
    r.exit_status = 2;
  } else {
    r.status = kStopped;  // a crash or a kill: the next run converts it again
    r.exit_status = 1;
  }
  if (!r.pst.empty() && fs::is_regular_file(r.pst, ec)) {
    r.bytes_out = fs::file_size(r.pst, ec);
  } else {
    r.pst.clear();
  }
  progress_.ClearLine();
  std::ifstream err_text(err_file);
  for (std::string line; std::getline(err_text, line);) {
    if (!line.empty()) io_.err << "mailvane: " << entry.name << ": " << line << "\n";
  }
  state_.Update([&](Records& records) {
    records[entry.name] = r;
    return true;
  });
  RemoveFile(result_file);
  RemoveFile(err_file);
  // Whoever takes a stale lock file later finds the record completed and leaves it.
  if (r.Completed()) RemoveFile(state_.WorkFile(entry.name, ".lock"));
  running.lock = FileLock();
  ++outcomes_[r.status];
  std::string line = entry.name + ": " + r.status;
  if (r.Completed()) {
    std::size_t items = 0;
    for (std::size_t n : r.items) items += n;
    line += ", " + std::to_string(items) + " items";
    if (r.files_failed > 0) line += ", " + std::to_string(r.files_failed) + " failed files";
    if (r.files_lost > 0) line += ", " + std::to_string(r.files_lost) + " files lost";
    if (r.files_not_reached > 0) {
      line += ", " + std::to_string(r.files_not_reached) + " files not reached";
    }
  }
  if (!r.error.empty() && !r.Completed()) line += ": " + r.error;
  progress_.Ended(line, r.bytes_in);
}

int Batch::Run(const std::vector<BatchEntry>& entries) {
  Plan(entries);
  const std::size_t jobs = static_cast<std::size_t>(args_.jobs > 0 ? args_.jobs : DefaultJobs());
  std::size_t next = 0;
  while (next < pending_.size() || !running_.empty()) {
    while (running_.size() < jobs && next < pending_.size()) Start(pending_[next++]);
    progress_.SetRunning(static_cast<int>(running_.size()));
    progress_.Draw();
    bool ended = false;
    for (std::size_t i = 0; i < running_.size();) {
      const ChildEnd end = ReapChild(running_[i].pid);
      if (end.pid < 0) {
        ++i;
        continue;
      }
      Running ended_run = std::move(running_[i]);
      running_.erase(running_.begin() + static_cast<long>(i));
      progress_.SetRunning(static_cast<int>(running_.size()));
      End(ended_run, end);
      ended = true;
    }
    if (!ended && !running_.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  progress_.SetRunning(0);
  progress_.Finish();
  if (!args_.quiet) {
    io_.out << "Summary: " << (state_.Target() / kSummaryCsvName).string() << "\n";
  }
  io_.out.flush();
  if (outcomes_[std::string(kNotStarted)] > 0) return kExitNotStarted;
  if (outcomes_[std::string(kConvertedWithFailures)] > 0 || outcomes_[std::string(kStopped)] > 0) {
    return kExitSomeFailed;
  }
  return kExitConverted;
}

}  // namespace

bool IsBatch(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--batch" || arg.rfind("--batch=", 0) == 0) return true;
  }
  return false;
}

int DefaultJobs() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  const int cores = ::sched_getaffinity(0, sizeof cpus, &cpus) == 0
                        ? CPU_COUNT(&cpus)
                        : static_cast<int>(std::thread::hardware_concurrency());
  std::uint64_t memory = ReadMemAvailable();
  const std::uint64_t cgroup = ReadCgroupMemoryLeft();
  if (cgroup > 0 && (memory == 0 || cgroup < memory)) memory = cgroup;
  int jobs = std::max(cores, 1);
  if (memory > 0) jobs = static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(jobs), memory / kMemoryPerJob));
  return std::max(jobs, 1);
}

std::string BatchUsageText() {
  return "\n"
         "Many mailboxes: mailvane --batch LIST TARGET_FOLDER [--jobs N] [--shard K/N]\n"
         "LIST is a text file (\"-\": standard input) with one mailbox a line, a folder or an\n"
         "archive, optionally followed by a tab and the name of its .pst (default: the\n"
         "source's name, so alice@example.com.tgz gives alice@example.com.pst). Each becomes\n"
         "its own .pst and report in TARGET_FOLDER, converted in a process of its own. A\n"
         "second run skips what an earlier one completed and converts again what it left\n"
         "unfinished (state file mailvane-batch.state); summary.csv and summary.jsonl hold\n"
         "one row per mailbox, kept up to date as the batch goes.\n"
         "\n"
         "      --batch LIST   convert the mailboxes of LIST\n"
         "      --jobs N       mailboxes converted at once (default: one per core, as far\n"
         "                     as the free memory allows 256 MB each)\n"
         "      --shard K/N    only the mailboxes at positions K, K+N, K+2N... of LIST (K\n"
         "                     from 1 to N, or 0 to N-1), so several processes or machines\n"
         "                     share one TARGET_FOLDER\n"
         "--threads, --max-size and --keep-unread apply to each mailbox's conversion.\n"
         "\n"
         "Exit status with --batch: 0 every mailbox converted, 1 any had failures or\n"
         "stopped, 2 any could not start, 64 bad usage.\n";
}

int RunBatch(const std::vector<std::string>& args, CommandLineIo io) {
  const BatchArguments a = ParseBatch(args);
  if (!a.error.empty()) return UsageError(a.error, io);
  if (a.help) {
    io.out << UsageText();
    return kExitConverted;
  }
  std::vector<BatchEntry> entries;
  if (a.list == "-") {
    entries = ReadBatchList(std::cin);
  } else {
    std::ifstream list(a.list);
    if (!list) {
      io.err << "mailvane: cannot read the list " << a.list << ": " << std::strerror(errno) << "\n";
      return kExitNotStarted;
    }
    entries = ReadBatchList(list);
  }
  if (entries.empty()) {
    io.err << "mailvane: the list " << a.list << " names no mailbox\n";
    return kExitNotStarted;
  }
  try {
    Batch batch(a, io);
    return batch.Run(entries);
  } catch (const std::exception& e) {
    io.err << "mailvane: the batch stopped: " << e.what() << "\n";
    return kExitNotStarted;
  }
}

}  // namespace mailvane::cli
