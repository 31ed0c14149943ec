#include "pst/check/ltp_check.h"

#include <cstdio>
#include <exception>
#include <string>

#include "base/hex.h"
#include "pst/ltp/heap_on_node.h"
#include "base/little_endian.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"

namespace mailvane::pst::check {
namespace {

constexpr int kMaxSubnodeDepth = 32;

void Error(std::vector<Finding>& out, const std::string& where, const std::string& message) {
  out.push_back({Severity::kError, "ltp", where + ": " + message});
}

enum class Kind { kOther, kProperties, kTable };

// What MS-PST 2.4 puts in a node of each NID type.
Kind ExpectedKind(ndb::Nid nid) {
  switch (ndb::NidTypeOf(nid)) {
    case ndb::NidType::kNormalFolder:
    case ndb::NidType::kSearchFolder:
    case ndb::NidType::kNormalMessage:
    case ndb::NidType::kAttachment:
    case ndb::NidType::kAssocMessage:
      return Kind::kProperties;
    case ndb::NidType::kHierarchyTable:
    case ndb::NidType::kContentsTable:
    case ndb::NidType::kAssocContentsTable:
    case ndb::NidType::kSearchContentsTable:
    case ndb::NidType::kAttachmentTable:
    case ndb::NidType::kRecipientTable:
      return Kind::kTable;
    default:
      return nid == ndb::kNidMessageStore || nid == ndb::kNidNameToIdMap ? Kind::kProperties : Kind::kOther;
  }
}

void CheckNode(ndb::NodeDatabase& db, ndb::Nid nid, ndb::Bid data, ndb::Bid subnode_tree, const std::string& where,
               int depth, std::vector<Finding>& out) {
  Kind kind = ExpectedKind(nid);
  std::vector<ndb::SubnodeEntry> subnodes;
  try {
    if (subnode_tree != 0) subnodes = db.ReadSubnodes(subnode_tree);
    if (kind == Kind::kOther && data != 0) {
      // Nodes of other types may still hold a heap; check it when they do.
      std::vector<ndb::Bid> leaves = db.DataLeaves(data);
      std::vector<std::uint8_t> first = db.ReadBlock(leaves.front());
      if (first.size() >= 4 && first[2] == ltp::kHeapSignature) {
        kind = first[3] == ltp::kClientSigTable        ? Kind::kTable
               : first[3] == ltp::kClientSigProperties ? Kind::kProperties
                                                  : Kind::kOther;
      }
    }
  } catch (const std::exception& e) {
    Error(out, where, std::string("cannot read the node's blocks: ") + e.what());
    return;
  }
  if (kind == Kind::kProperties) CheckPropertyContext(db, data, subnodes, where, out);
  if (kind == Kind::kTable) {
    CheckTableContext(db, data, subnodes, where, out,
                      ndb::NidTypeOf(nid) == ndb::NidType::kReceiveFolderTable);
  }
  if (depth >= kMaxSubnodeDepth) {
    Error(out, where, "subnodes nest deeper than " + std::to_string(kMaxSubnodeDepth) + " levels");
    return;
  }
  for (const ndb::SubnodeEntry& s : subnodes) {
    if (ExpectedKind(s.nid) == Kind::kOther) continue;  // raw values of this node's contexts
    CheckNode(db, s.nid, s.data, s.subnodes, where + " subnode " + base::Hex(s.nid), depth + 1, out);
  }
}

}  // namespace

void CheckPropertyContext(ndb::NodeDatabase& db, ndb::Bid data, const std::vector<ndb::SubnodeEntry>& subnodes,
                          const std::string& where, std::vector<Finding>& out) {
  try {
    ltp::PropertyContext pc(db, data, subnodes);
    for (ltp::PropTag tag : pc.tags()) {
      try {
        // Large values are checked for their size, not read whole.
        if (auto sub = pc.ValueSubnode(ltp::PropIdOf(tag))) {
          if (sub->data != 0) (void)db.DataSize(sub->data);
        } else {
          (void)pc.Get(ltp::PropIdOf(tag));
        }
      } catch (const std::exception& e) {
        Error(out, where, "property " + base::Hex(tag) + ": " + e.what());
      }
    }
  } catch (const std::exception& e) {
    Error(out, where, std::string("property context: ") + e.what());
  }
}

void CheckTableContext(ndb::NodeDatabase& db, ndb::Bid data, const std::vector<ndb::SubnodeEntry>& subnodes,
                       const std::string& where, std::vector<Finding>& out,
                       bool empty_cells_allowed) {
  // The columns first, all of their problems; then the rows against the index.
  try {
    ltp::HeapReader heap = ltp::HeapReader::Load(db, data);
    std::span<const std::uint8_t> info = heap.Get(heap.user_root());
    if (info.size() >= ltp::kTcInfoFixedSize && info[0] == ltp::kTcInfoType &&
        info.size() >= ltp::kTcInfoFixedSize + 8 * std::size_t{info[1]}) {
      ltp::TcLayout layout;
      for (int g = 0; g < 4; ++g) layout.rgib[g] = base::Get16(info, 2 + 2 * g);
      for (std::size_t i = 0; i < info[1]; ++i) {
        std::size_t at = ltp::kTcInfoFixedSize + 8 * i;
        layout.columns.push_back({base::Get32(info, at), base::Get16(info, at + 4), info[at + 6], info[at + 7]});
      }
      std::vector<std::string> problems = ltp::TableLayoutProblems(layout);
      for (const std::string& problem : problems) Error(out, where, "table columns: " + problem);
      if (!problems.empty()) return;  // the rows cannot be read through broken columns
    }
    ltp::TableContext tc(db, data, subnodes);
    (void)tc.ReadRows();
    if (!empty_cells_allowed) {
      for (const std::string& cell : tc.CellsWithoutValue()) Error(out, where, "table: " + cell);
    }
  } catch (const std::exception& e) {
    Error(out, where, std::string("table context: ") + e.what());
  }
}

std::vector<Finding> CheckLtpNode(ndb::NodeDatabase& db, const ndb::NodeEntry& node) {
  std::vector<Finding> out;
  CheckNode(db, node.nid, node.data, node.subnodes, "node " + base::Hex(node.nid), 0, out);
  return out;
}

std::vector<Finding> CheckLtp(ndb::NodeDatabase& db) {
  std::vector<Finding> out;
  db.ForEachNode([&](const ndb::NodeEntry& node) {
    CheckNode(db, node.nid, node.data, node.subnodes, "node " + base::Hex(node.nid), 0, out);
  });
  return out;
}

}  // namespace mailvane::pst::check
