// Helpers shared by the node database tests: a fresh temporary folder per test.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace mailvane::pst::testing {

inline std::filesystem::path FreshDir(const std::string& name) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("mailvane-ndb-" + std::to_string(::getpid())) /
                              (std::string(info->test_suite_name()) + "." + info->name() + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::filesystem::path ReferenceDir() {
  // Empty when the reference files are not there (a fresh clone): tests skip then.
  const char* src = std::getenv("MAILVANE_SOURCE_DIR");
  if (src == nullptr) return {};
  std::filesystem::path dir = std::filesystem::path(src) / ".." / "shared" / "reference" / "outlook-pst";
  return std::filesystem::is_directory(dir) ? dir : std::filesystem::path{};
}

}  // namespace mailvane::pst::testing
