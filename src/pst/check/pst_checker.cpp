#include "pst/check/pst_checker.h"

#include <algorithm>
#include <exception>
#include <sstream>

#include "pst/check/item_check.h"
#include "pst/check/ndb_check.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst::check {

std::size_t CheckResult::error_count() const {
  return static_cast<std::size_t>(std::count_if(findings.begin(), findings.end(), [](const Finding& f) {
    return f.severity == Severity::kError;
  }));
}

std::size_t CheckResult::note_count() const { return findings.size() - error_count(); }

CheckResult CheckPstFile(const std::filesystem::path& path, const CheckOptions& options) {
  CheckResult result;
  // The node database first, on the raw file: damage there yields findings, not a throw.
  result.findings = CheckNodeDatabase(path);
  std::unique_ptr<ndb::NodeDatabase> db;
  try {
    db = ndb::NodeDatabase::Open(path, false);
  } catch (const std::exception& e) {
    result.findings.push_back({Severity::kError, "file", "cannot be opened as a Unicode PST: " + std::string(e.what())});
    return result;
  }
  result.readable = true;
  CheckMessaging(*db, [&](Severity s, const std::string& m) {
    result.findings.push_back({s, "messaging", m});
  });
  CheckItems(*db, [&](Severity s, const std::string& m) { result.findings.push_back({s, "items", m}); });
  if (options.folder_tree) {
    try {
      result.tree = ReadFolderTree(*db);
    } catch (const std::exception& e) {
      result.findings.push_back({Severity::kError, "messaging", std::string("the folder tree cannot be read: ") + e.what()});
    }
  }
  return result;
}

std::string FormatFindings(const CheckResult& result) {
  std::ostringstream out;
  for (const auto& f : result.findings) {
    out << (f.severity == Severity::kError ? "error: " : "note: ") << f.area << ": " << f.message << "\n";
  }
  return out.str();
}

std::string FormatFolderTree(const std::vector<FolderTreeEntry>& tree) {
  std::ostringstream out;
  for (const auto& e : tree) {
    out << std::string(static_cast<std::size_t>(e.depth) * 2, ' ')
        << (e.depth == 0 && e.name.empty() ? std::string("(root)") : e.name);
    if (!e.container_class.empty()) out << "  [" << e.container_class << "]";
    if (e.search_folder) out << "  (search folder)";
    out << "  items " << e.items << "  associated " << e.associated << "\n";
  }
  return out.str();
}

}  // namespace mailvane::pst::check
