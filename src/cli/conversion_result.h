// What one conversion tells a program that drives it (mailvane --batch, scripts): its exit
// status, the .pst it wrote, its report, the items by kind and the failed files, as one
// JSON object in a file named by --result.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>

#include "run/run_report.h"

namespace mailvane::cli {

struct ConversionResult {
  int exit_status = 2;
  std::string pst;     // "" when none was made
  std::string report;  // "" when none was written
  std::array<std::size_t, run::kItemKindCount> items{};  // by run::ItemKind
  std::size_t files_failed = 0;
  std::size_t files_lost = 0;         // converted, then lost when the .pst refused a write
  std::size_t files_not_reached = 0;  // never read: the .pst refused a write before them
  std::size_t failures = 0;
  std::string error;  // why the conversion could not start or stopped

  void TakeCounts(const run::RunReport& report);
};

std::string ToJson(const ConversionResult& result);
// Raises std::runtime_error when text is no such object.
ConversionResult ConversionResultFromJson(const std::string& text);

// Written whole in one step (see atomic_file.h); raises std::system_error.
void WriteConversionResult(const std::filesystem::path& path, const ConversionResult& result);

}  // namespace mailvane::cli
