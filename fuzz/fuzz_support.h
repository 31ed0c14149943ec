// Small pieces the fuzz targets share: a private scratch folder per process, and
// splitting one input into several files. (Their front end is tests/support's fake.)
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

namespace mailvane::fuzz {

// A folder of this process under the temporary folder, made on first use and removed
// when the process exits normally.
inline const std::filesystem::path& ScratchFolder() {
  struct Scratch {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("mailvane-fuzz-" + std::to_string(::getpid()));
    Scratch() { std::filesystem::create_directories(path); }
    ~Scratch() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static const Scratch folder;
  return folder.path;
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
