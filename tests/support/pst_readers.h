// Runs the independent PST readers from Debian on a file and parses what they print, so
// that tests can compare what those readers see with what our engine wrote:
//   python3-pypff (through Debian's /usr/bin/python3), pffinfo and pffexport (pff-tools),
//   readpst (pst-utils, always with -j 0 so its output is deterministic).
// The readers' exit codes are weak (they stay 0 when items are skipped), so every result
// also carries the raw output and what was parsed out of it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace mailvane::testsupport {

struct CommandResult {
  int exit_code = -1;  // -1 when the program could not be started or was killed
  int signal = 0;      // the signal that ended it, 0 when it exited
  bool timed_out = false;
  std::string out;
  std::string err;
};

struct CommandOptions {
  std::vector<std::string> env = {"LC_ALL=C.UTF-8"};  // "NAME=value" added to ours
  std::chrono::milliseconds deadline{0};               // 0: none; else SIGKILL once past it
};

// Runs argv[0] (looked up on PATH) with the arguments, never through a shell, with its
// output captured.
CommandResult RunCommand(const std::vector<std::string>& argv, const CommandOptions& options = {});
// Starts argv the same way with its output thrown away (the deadline aside) and returns at
// once: the child's pid, for the caller to signal and wait for.
pid_t StartCommand(const std::vector<std::string>& argv, const CommandOptions& options = {});

// True when the program is installed (on PATH or as an absolute path).
bool HaveProgram(const std::string& name);
bool HavePypff();  // /usr/bin/python3 can import pypff

// --- python3-pypff, through tests/support/pypff_read.py (its modes are described there) ---
CommandResult RunPypff(const std::string& mode, const std::filesystem::path& pst);

struct PypffFolder {
  std::vector<std::string> path;  // names from below the root folder; empty for the root
  std::optional<std::string> container_class;
  int messages = 0;
  int sub_folders = 0;
};

struct PypffResult {
  CommandResult run;
  bool ok = false;  // the script walked the whole store without an exception
  std::vector<PypffFolder> folders;  // depth first, in the order the reader returns them
  // The folder with exactly that path ("\"-separated, from the root), or nullptr.
  const PypffFolder* Find(const std::string& backslash_path) const;
};

PypffResult ReadWithPypff(const std::filesystem::path& pst);

struct PypffMessage {
  std::string folder;  // "\"-separated folder names from below the root folder
  std::string subject;
  int attachments = 0;
};

struct PypffMessages {
  CommandResult run;
  bool ok = false;  // the script listed the whole store
  std::vector<PypffMessage> messages;  // depth first
};

PypffMessages ReadMessagesWithPypff(const std::filesystem::path& pst);

// Every message of a store that first passes our checker, as pypff reads it: (folder below
// the top of the store, subject, attachments), sorted. Failures are the caller's test's.
using MessageRow = std::tuple<std::string, std::string, int>;
std::vector<MessageRow> CheckedMessageRows(const std::filesystem::path& pst);

// --- pffinfo ---
struct PffinfoResult {
  CommandResult run;
  bool ok = false;  // exit 0, nothing on stderr, and the message store section printed
};

PffinfoResult ReadWithPffinfo(const std::filesystem::path& pst);

// --- pffexport ---
struct PffexportResult {
  CommandResult run;
  bool ok = false;                          // exit 0 and no error lines
  std::vector<std::string> problem_lines;   // "Skipped item", "Unable to", "error" lines
};

// Exports into work_dir (which must exist and be empty of a previous export).
PffexportResult ReadWithPffexport(const std::filesystem::path& pst,
                                  const std::filesystem::path& work_dir);

// --- readpst ---
struct ReadpstSummary {
  std::string folder;
  int done = 0;
  int skipped = 0;
};

struct ReadpstResult {
  CommandResult run;
  bool ok = false;  // exit 0, nothing on stderr, no item skipped
  std::vector<std::string> processed_folders;  // "Processing Folder" lines, in order
  std::vector<ReadpstSummary> summaries;       // "N items done, M items skipped" lines
  int skipped_items = 0;
};

ReadpstResult ReadWithReadpst(const std::filesystem::path& pst,
                              const std::filesystem::path& out_dir);

}  // namespace mailvane::testsupport
