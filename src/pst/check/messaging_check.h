// Checks of the messaging layer of a PST (MS-PST 2.4 and 2.7): the mandatory nodes, the
// message store object and its entry IDs, folder parents, and every folder's hierarchy,
// contents and associated contents tables against the objects they list, with the counts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pst/check/finding.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst::check {

using MessagingReport = std::function<void(Severity, const std::string&)>;

// Reads through db (opened read-only) and reports each problem once. Raises nothing for
// damage it can name; a damaged object is reported and its checks skipped.
void CheckMessaging(ndb::NodeDatabase& db, const MessagingReport& report);

// One folder of the tree as the checker reads it, for printing.
struct FolderTreeEntry {
  int depth = 0;
  std::uint32_t nid = 0;
  std::string name;
  std::string container_class;  // empty when the folder has none
  std::int32_t items = 0;        // rows of its contents table
  std::int32_t associated = 0;   // rows of its associated contents table
  bool search_folder = false;
};

// The folder tree below the root folder, depth first in hierarchy-table order.
std::vector<FolderTreeEntry> ReadFolderTree(ndb::NodeDatabase& db);

}  // namespace mailvane::pst::check
