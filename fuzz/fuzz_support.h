// Small pieces the fuzz targets share: a front end that shows nothing, a private scratch
// folder per process, and splitting one input into several files.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "source/front_end.h"

namespace mailvane::fuzz {

class SilentFrontEnd : public source::FrontEnd {
 public:
  explicit SilentFrontEnd(std::string target) : target_(std::move(target)) {}
  void SetStatusText(const std::string&) override {}
  void SetFrameCaption(const std::string&) override {}
  void SetProgressRange(int, int) override {}
  void SetProgressValue(int) override {}
  void SetConvertEnabled(bool) override {}
  void SetAddFolderEnabled(bool) override {}
  void SetCountText(const std::string&) override {}
  std::string BrowseForFolder(const std::string&) override { return target_; }
  bool ShellOpen(const std::string&) override { return false; }
  source::MessageBoxAnswer ShowMessage(const std::string&, const std::string&,
                                       source::MessageBoxIcon,
                                       source::MessageBoxButtons) override {
    return source::MessageBoxAnswer::kOk;
  }
  void Yield() override {}

 private:
  std::string target_;
};

// A folder of this process under the temporary folder, made on first use.
inline const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    std::filesystem::path p = std::filesystem::temp_directory_path() /
                              ("mailvane-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    return p;
  }();
  return folder;
}

inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "fuzz: cannot write %s\n", path.c_str());
    std::abort();
  }
}

// The input cut at every occurrence of separator (a separator nobody types by chance).
inline std::vector<std::string_view> SplitInput(std::string_view input,
                                                std::string_view separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t cut = input.find(separator, start);
    if (cut == std::string_view::npos) break;
    parts.push_back(input.substr(start, cut - start));
    start = cut + separator.size();
  }
  parts.push_back(input.substr(start));
  return parts;
}

[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz: %s\n", what.c_str());
  std::abort();
}

}  // namespace mailvane::fuzz
