// Helpers shared by the node database tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pst/check/ndb_check.h"

namespace mailvane::pst::ndb_testing {

// This process's scratch folder; removed when the test program ends.
inline std::filesystem::path ScratchRoot() {
  return std::filesystem::temp_directory_path() / ("mailvane-ndb-" + std::to_string(::getpid()));
}

// A fresh, empty temporary folder for the running test.
inline std::filesystem::path FreshDir(const std::string& name) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::filesystem::path dir =
      ScratchRoot() / (std::string(info->test_suite_name()) + "." + info->name() + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// The Outlook-made files, or empty when they are not there (a fresh clone): tests skip then.
inline std::filesystem::path ReferenceDir() {
  const char* src = std::getenv("MAILVANE_SOURCE_DIR");
  if (src == nullptr) return {};
  std::filesystem::path dir =
      std::filesystem::path(src) / ".." / "shared" / "reference" / "outlook-pst";
  return std::filesystem::is_directory(dir) ? dir : std::filesystem::path{};
}

inline std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return v;
}

inline std::string Describe(const std::vector<Finding>& findings) {
  std::string out;
  for (const Finding& f : findings) {
    out += (f.severity == Severity::kError ? "error " : "note ") + f.area + ": " + f.message + "\n";
  }
  return out;
}

// A file we wrote and closed must check without errors and without notes.
inline void ExpectClean(const std::filesystem::path& path) {
  auto findings = CheckNodeDatabase(path);
  EXPECT_TRUE(findings.empty()) << path << "\n" << Describe(findings);
}

}  // namespace mailvane::pst::ndb_testing
