// What the reliability tests share beyond tests/support: generated messages, a listing of
// a tree, the built program run with a deadline, and a shorter form of every loop under
// the sanitizers.
#pragma once

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/fake_front_end.h"
#include "support/files.h"
#include "support/pst_readers.h"

namespace mailvane::reliability {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::ScratchDir;
using testsupport::WriteFile;
using ProgramRun = testsupport::CommandResult;

// True under AddressSanitizer or when MAILVANE_SHORT_TESTS is set: loops run fewer rounds.
bool ShortForm();

inline fs::path Program() { return testsupport::BuiltProgram("mailvane"); }

// A short message whose subject is the given text.
std::string Message(const std::string& subject, std::size_t body_bytes = 200);

// Every path below root (files, folders, links, special files), relative to root.
std::set<std::string> TreeListing(const fs::path& root);

// Runs argv with TMPDIR set to tmp_dir; kills it with SIGKILL and says so when it outlives
// the deadline.
inline ProgramRun RunProgram(const std::vector<std::string>& argv, const fs::path& tmp_dir,
                             std::chrono::milliseconds deadline) {
  return testsupport::RunCommand(argv, {.env = {"TMPDIR=" + tmp_dir.string()}, .deadline = deadline});
}

inline fs::path OnlyPst(const fs::path& folder) { return testsupport::OnlyFile(folder, ".pst"); }

}  // namespace mailvane::reliability
