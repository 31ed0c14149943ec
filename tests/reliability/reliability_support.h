// What the reliability tests share: a scratch folder, generated messages, the built
// program run with a deadline, a front end that records what it was told, and a shorter
// form of every loop under the sanitizers.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "source/front_end.h"

namespace mailvane::reliability {

namespace fs = std::filesystem;

// True under AddressSanitizer or when MAILVANE_SHORT_TESTS is set: loops run fewer rounds.
bool ShortForm();

fs::path BuildDir();
fs::path Program();  // the built mailvane program

// A folder of its own under the temporary folder, removed with its contents at the end.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void WriteFile(const fs::path& path, const std::string& bytes);
std::string ReadFile(const fs::path& path);

// A short message whose subject is the given text.
std::string Message(const std::string& subject, std::size_t body_bytes = 200);

// Every path below root (files, folders, links, special files), relative to root.
std::set<std::string> TreeListing(const fs::path& root);

struct ProgramRun {
  int exit_code = -1;   // -1 when killed by a signal
  int signal = 0;       // the signal that ended it, 0 when it exited
  bool timed_out = false;
  std::string out;
  std::string err;
};

// Runs argv with stdout and stderr captured and TMPDIR set to tmp_dir; kills it with
// SIGKILL and says so when it outlives the deadline.
ProgramRun RunProgram(const std::vector<std::string>& argv, const fs::path& tmp_dir,
                      std::chrono::milliseconds deadline);

// The only .pst in folder, or an empty path when there is none or more than one.
fs::path OnlyPst(const fs::path& folder);

// The subjects of every message of a PST, read by python3-pypff (sorted); empty and
// ok false when pypff cannot read the file.
struct PypffSubjects {
  bool ok = false;
  std::string error;
  std::vector<std::string> subjects;
};
PypffSubjects SubjectsByPypff(const fs::path& pst);

class RecordingFrontEnd : public source::FrontEnd {
 public:
  explicit RecordingFrontEnd(std::string target) : target_(std::move(target)) {}
  void SetStatusText(const std::string&) override {}
  void SetFrameCaption(const std::string&) override {}
  void SetProgressRange(int, int) override {}
  void SetProgressValue(int) override {}
  void SetConvertEnabled(bool) override {}
  void SetAddFolderEnabled(bool) override {}
  void SetCountText(const std::string&) override {}
  std::string BrowseForFolder(const std::string&) override { return target_; }
  bool ShellOpen(const std::string&) override { return false; }
  source::MessageBoxAnswer ShowMessage(const std::string& text, const std::string& title,
                                       source::MessageBoxIcon,
                                       source::MessageBoxButtons) override {
    messages.push_back(title + ": " + text);
    return source::MessageBoxAnswer::kOk;
  }
  void Yield() override {}

  std::vector<std::string> messages;

 private:
  std::string target_;
};

}  // namespace mailvane::reliability
