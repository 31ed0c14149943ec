#include "pst/check/ltp_check.h"

#include <cstdio>
#include <exception>
#include <string>

#include "pst/ltp/heap_on_node.h"
#include "pst/ltp/le_bytes.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"

namespace mailvane::pst {
namespace {

constexpr int kMaxSubnodeDepth = 32;

std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

void Error(std::vector<Finding>& out, const std::string& where, const std::string& message) {
  out.push_back({Severity::kError, "ltp", where + ": " + message});
}

enum class Kind { kOther, kProperties, kTable };

// What MS-PST 2.4 puts in a node of each NID type.
Kind ExpectedKind(Nid nid) {
  switch (NidTypeOf(nid)) {
    case NidType::kNormalFolder:
    case NidType::kSearchFolder:
    case NidType::kNormalMessage:
    case NidType::kAttachment:
    case NidType::kAssocMessage:
      return Kind::kProperties;
    case NidType::kHierarchyTable:
    case NidType::kContentsTable:
    case NidType::kAssocContentsTable:
    case NidType::kSearchContentsTable:
    case NidType::kAttachmentTable:
    case NidType::kRecipientTable:
      return Kind::kTable;
    default:
      return nid == kNidMessageStore || nid == kNidNameToIdMap ? Kind::kProperties : Kind::kOther;
  }
}

void CheckNode(NodeDatabase& db, Nid nid, Bid data, Bid subnode_tree, const std::string& where,
               int depth, std::vector<Finding>& out) {
  Kind kind = ExpectedKind(nid);
  std::vector<SubnodeEntry> subnodes;
  try {
    if (subnode_tree != 0) subnodes = db.ReadSubnodes(subnode_tree);
    if (kind == Kind::kOther && data != 0) {
      // Nodes of other types may still hold a heap; check it when they do.
      std::vector<Bid> leaves = db.DataLeaves(data);
      std::vector<std::uint8_t> first = db.ReadBlock(leaves.front());
      if (first.size() >= 4 && first[2] == kHeapSignature) {
        kind = first[3] == kClientSigTable        ? Kind::kTable
               : first[3] == kClientSigProperties ? Kind::kProperties
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
                      NidTypeOf(nid) == NidType::kReceiveFolderTable);
  }
  if (depth >= kMaxSubnodeDepth) {
    Error(out, where, "subnodes nest deeper than " + std::to_string(kMaxSubnodeDepth) + " levels");
    return;
  }
  for (const SubnodeEntry& s : subnodes) {
    if (ExpectedKind(s.nid) == Kind::kOther) continue;  // raw values of this node's contexts
    CheckNode(db, s.nid, s.data, s.subnodes, where + " subnode " + Hex(s.nid), depth + 1, out);
  }
}

}  // namespace

void CheckPropertyContext(NodeDatabase& db, Bid data, const std::vector<SubnodeEntry>& subnodes,
                          const std::string& where, std::vector<Finding>& out) {
  try {
    PropertyContext pc(db, data, subnodes);
    for (PropTag tag : pc.tags()) {
      try {
        // Large values are checked for their size, not read whole.
        if (auto sub = pc.ValueSubnode(PropIdOf(tag))) {
          if (sub->data != 0) (void)db.DataSize(sub->data);
        } else {
          (void)pc.Get(PropIdOf(tag));
        }
      } catch (const std::exception& e) {
        Error(out, where, "property " + Hex(tag) + ": " + e.what());
      }
    }
  } catch (const std::exception& e) {
    Error(out, where, std::string("property context: ") + e.what());
  }
}

void CheckTableContext(NodeDatabase& db, Bid data, const std::vector<SubnodeEntry>& subnodes,
                       const std::string& where, std::vector<Finding>& out,
                       bool empty_cells_allowed) {
  // The columns first, all of their problems; then the rows against the index.
  try {
    HeapReader heap = HeapReader::Load(db, data);
    std::span<const std::uint8_t> info = heap.Get(heap.user_root());
    if (info.size() >= kTcInfoFixedSize && info[0] == kTcInfoType &&
        info.size() >= kTcInfoFixedSize + 8 * std::size_t{info[1]}) {
      TcLayout layout;
      for (int g = 0; g < 4; ++g) layout.rgib[g] = GetLe16(info, 2 + 2 * g);
      for (std::size_t i = 0; i < info[1]; ++i) {
        std::size_t at = kTcInfoFixedSize + 8 * i;
        layout.columns.push_back({GetLe32(info, at), GetLe16(info, at + 4), info[at + 6], info[at + 7]});
      }
      std::vector<std::string> problems = TableLayoutProblems(layout);
      for (const std::string& problem : problems) Error(out, where, "table columns: " + problem);
      if (!problems.empty()) return;  // the rows cannot be read through broken columns
    }
    TableContext tc(db, data, subnodes);
    (void)tc.ReadRows();
    if (!empty_cells_allowed) {
      for (const std::string& cell : tc.CellsWithoutValue()) Error(out, where, "table: " + cell);
    }
  } catch (const std::exception& e) {
    Error(out, where, std::string("table context: ") + e.what());
  }
}

std::vector<Finding> CheckLtpNode(NodeDatabase& db, const NodeEntry& node) {
  std::vector<Finding> out;
  CheckNode(db, node.nid, node.data, node.subnodes, "node " + Hex(node.nid), 0, out);
  return out;
}

std::vector<Finding> CheckLtp(NodeDatabase& db) {
  std::vector<Finding> out;
  db.ForEachNode([&](const NodeEntry& node) {
    CheckNode(db, node.nid, node.data, node.subnodes, "node " + Hex(node.nid), 0, out);
  });
  return out;
}

}  // namespace mailvane::pst
