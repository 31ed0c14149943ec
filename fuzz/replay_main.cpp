// Replays every file of the folders (or files) given through a fuzz target's entry
// function, so that the seed corpora run as regression tests in a build without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/whole_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    if (!fs::is_directory(arg)) {
      files.push_back(arg);
      continue;
    }
    for (const fs::directory_entry& e : fs::directory_iterator(arg)) {
      if (e.is_regular_file()) files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    const std::string bytes = mailvane::base::ReadWholeFile(file);  // raises when it cannot
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("replayed %zu input(s)\n", files.size());
  if (files.empty()) std::fprintf(stderr, "replay: no input found\n");
  return files.empty() ? 1 : 0;
}
