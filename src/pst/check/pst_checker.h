// The strict checker of a PST file: the node database (header, CRCs, pages, blocks, maps,
// B-trees, reference counts), the LTP structures of every node (heaps, BTHs, property and
// table contexts) and the messaging layer (mandatory nodes, store, folders, tables, counts).
// What Outlook itself writes is acceptable by definition: such findings are notes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "pst/check/finding.h"
#include "pst/check/messaging_check.h"

namespace mailvane::pst::check {

struct CheckResult {
  bool readable = false;  // false: the file could not be opened as a Unicode PST at all
  std::vector<Finding> findings;
  std::vector<FolderTreeEntry> tree;  // filled when asked for and the file is readable

  std::size_t error_count() const;
  std::size_t note_count() const;
  bool clean() const { return readable && error_count() == 0; }
};

struct CheckOptions {
  bool folder_tree = false;
};

CheckResult CheckPstFile(const std::filesystem::path& path, const CheckOptions& options = {});

// One line per finding ("error: ndb: ..."), for tests and the command-line tool.
std::string FormatFindings(const CheckResult& result);
// The folder tree, one folder per line, indented two spaces per level:
//   name  [class]  items N  associated N
std::string FormatFolderTree(const std::vector<FolderTreeEntry>& tree);

}  // namespace mailvane::pst::check
