// Checks of the LTP structures (MS-PST 2.3) of a PST's nodes: heap page maps, BTH order and
// levels, property values reachable, table columns consistent and the row index against
// the row matrix. Every finding has the area "ltp".
#pragma once

#include <vector>

#include "pst/check/finding.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst::check {

// One node (and, for objects that carry tables and attachments in subnodes, those too).
std::vector<Finding> CheckLtpNode(ndb::NodeDatabase& db, const ndb::NodeEntry& node);

// Every node of the file.
std::vector<Finding> CheckLtp(ndb::NodeDatabase& db);

// The parts on their own, for a node's data tree and its subnode entries; `where` names the
// node in the messages.
void CheckPropertyContext(ndb::NodeDatabase& db, ndb::Bid data, const std::vector<ndb::SubnodeEntry>& subnodes,
                          const std::string& where, std::vector<Finding>& out);
// Cells marked present without a value are errors unless `empty_cells_allowed` (Outlook's
// own receive folder table has one).
void CheckTableContext(ndb::NodeDatabase& db, ndb::Bid data, const std::vector<ndb::SubnodeEntry>& subnodes,
                       const std::string& where, std::vector<Finding>& out,
                       bool empty_cells_allowed = false);

}  // namespace mailvane::pst::check
