#include "cli/conversion_result.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "cli/atomic_file.h"

namespace mailvane::cli {

using nlohmann::json;

void ConversionResult::TakeCounts(const run::RunReport& report) {
  for (int k = 0; k < run::kItemKindCount; ++k) {
    items[static_cast<std::size_t>(k)] = report.Items(static_cast<run::ItemKind>(k));
  }
  files_failed = report.FilesFailed();
  files_lost = report.FilesLost();
  files_not_reached = report.FilesNotReached();
  failures = report.Failures().size();
}

std::string ToJson(const ConversionResult& result) {
  json items = json::object();
  for (int k = 0; k < run::kItemKindCount; ++k) {
    items[run::ItemKindName(static_cast<run::ItemKind>(k))] = result.items[static_cast<std::size_t>(k)];
  }
  const json j = {{"exit_status", result.exit_status}, {"pst", result.pst},
                  {"report", result.report},           {"items", items},
                  {"files_failed", result.files_failed}, {"files_lost", result.files_lost},
                  {"files_not_reached", result.files_not_reached}, {"failures", result.failures},
                  {"error", result.error}};
  // Paths are bytes from the file system: replace what is not UTF-8 rather than fail.
  return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

ConversionResult ConversionResultFromJson(const std::string& text) {
  try {
    const json j = json::parse(text);
    ConversionResult r;
    r.exit_status = j.at("exit_status").get<int>();
    r.pst = j.at("pst").get<std::string>();
    r.report = j.at("report").get<std::string>();
    for (int k = 0; k < run::kItemKindCount; ++k) {
      r.items[static_cast<std::size_t>(k)] =
          j.at("items").at(run::ItemKindName(static_cast<run::ItemKind>(k))).get<std::size_t>();
    }
    r.files_failed = j.at("files_failed").get<std::size_t>();
    r.files_lost = j.at("files_lost").get<std::size_t>();
    r.files_not_reached = j.at("files_not_reached").get<std::size_t>();
    r.failures = j.at("failures").get<std::size_t>();
    r.error = j.at("error").get<std::string>();
    return r;
  } catch (const json::exception& e) {
    throw std::runtime_error(std::string("not a conversion result: ") + e.what());
  }
}

void WriteConversionResult(const std::filesystem::path& path, const ConversionResult& result) {
  ReplaceFileAtomically(path, ToJson(result));
}

}  // namespace mailvane::cli
