// Helpers shared by the node database tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "pst/check/ndb_check.h"
#include "support/files.h"

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

using testsupport::Describe;
using testsupport::Pattern;
using testsupport::ReferenceDir;

// A file we wrote and closed must check without errors and without notes.
inline void ExpectClean(const std::filesystem::path& path) {
  auto findings = check::CheckNodeDatabase(path);
  EXPECT_TRUE(findings.empty()) << path << "\n" << Describe(findings);
}

}  // namespace mailvane::pst::ndb_testing
