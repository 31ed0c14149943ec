#include "pst/check/messaging_check.h"

#include <algorithm>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "pst/messaging/entry_id.h"
#include "pst/messaging/ltp_access.h"
#include "pst/messaging/property_tags.h"

namespace mailvane::pst {

namespace {

constexpr std::uint32_t kMessageFlagRead = 0x01;

std::string Hex(std::uint32_t v) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "0x";
  bool started = false;
  for (int shift = 28; shift >= 0; shift -= 4) {
    const int d = (v >> shift) & 0xF;
    if (d != 0 || started || shift == 0) {
      s.push_back(digits[d]);
      started = true;
    }
  }
  return s;
}

struct FolderInfo {
  NodeEntry node;
  std::vector<TaggedValue> props;
  bool readable = false;
};

class MessagingChecker {
 public:
  MessagingChecker(NodeDatabase& db, const MessagingReport& report) : db_(db), report_(report) {}

  void Run() {
    db_.ForEachNode([&](const NodeEntry& e) { nodes_[e.nid] = e; });
    CheckMandatoryNodes();
    CheckStore();
    LoadFolders();
    CheckParents();
    for (auto& [nid, f] : folders_) {
      if (f.readable) CheckFolder(nid, f);
    }
    CheckMessageParents();
    CheckDefaultFolderIds();
  }

 private:
  void Error(const std::string& m) { report_(Severity::kError, m); }
  void Note(const std::string& m) { report_(Severity::kNote, m); }

  bool Has(Nid nid) const { return nodes_.contains(nid); }

  void CheckMandatoryNodes() {
    const std::pair<Nid, const char*> mandatory[] = {
        {kNidMessageStore, "message store"},
        {kNidNameToIdMap, "name-to-ID map"},
        {kNidRootFolder, "root folder"},
        {WithType(kNidRootFolder, NidType::kHierarchyTable), "root folder hierarchy table"},
        {WithType(kNidRootFolder, NidType::kContentsTable), "root folder contents table"},
        {WithType(kNidRootFolder, NidType::kAssocContentsTable), "root folder associated contents table"},
        {kNidSearchManagementQueue, "search management queue"},
        {kNidSearchActivityList, "search activity list"},
        {kNidHierarchyTableTemplate, "hierarchy table template"},
        {kNidContentsTableTemplate, "contents table template"},
        {kNidAssocContentsTableTemplate, "associated contents table template"},
        {kNidSearchContentsTableTemplate, "search contents table template"},
        {0x671, "attachment table template"},
        {0x692, "recipient table template"},
    };
    for (const auto& [nid, what] : mandatory) {
      if (!Has(nid)) Error(std::string("mandatory node ") + Hex(nid) + " (" + what + ") is missing");
    }
    for (Nid t : {kNidHierarchyTableTemplate, kNidContentsTableTemplate, kNidAssocContentsTableTemplate,
                  kNidSearchContentsTableTemplate, Nid{0x671}, Nid{0x692}}) {
      if (!Has(t)) continue;
      try {
        const TableData table = ReadTable(db_, nodes_.at(t));
        if (!table.rows.empty()) Error("table template " + Hex(t) + " has " + std::to_string(table.rows.size()) + " rows; a template has none");
      } catch (const std::exception& e) {
        Error("table template " + Hex(t) + " cannot be read: " + e.what());
      }
    }
    if (Has(kNidNameToIdMap)) {
      try {
        const auto props = ReadProperties(db_, nodes_.at(kNidNameToIdMap));
        if (FindValue(props, tags::kNameidBucketCount) == nullptr) {
          Error("the name-to-ID map has no PidTagNameidBucketCount");
        }
      } catch (const std::exception& e) {
        Error(std::string("the name-to-ID map cannot be read: ") + e.what());
      }
    }
  }

  void CheckStore() {
    if (!Has(kNidMessageStore)) return;
    try {
      store_props_ = ReadProperties(db_, nodes_.at(kNidMessageStore));
    } catch (const std::exception& e) {
      Error(std::string("the message store object cannot be read: ") + e.what());
      return;
    }
    const PropValue* key = FindValue(store_props_, tags::kRecordKey);
    if (key == nullptr || key->bytes().size() != 16) {
      Error("the message store has no 16-byte PidTagRecordKey");
      return;
    }
    std::copy(key->bytes().begin(), key->bytes().end(), record_key_.begin());
    have_key_ = true;
    if (FindValue(store_props_, tags::kDisplayName) == nullptr) {
      Error("the message store has no PidTagDisplayName");
    }
  }

  // The NID an entry ID property of the store names, reporting a bad one.
  std::optional<Nid> StoreEntryId(const std::vector<TaggedValue>& props, PropTag tag,
                                  const char* what, bool required, const std::string& where) {
    const PropValue* v = FindValue(props, tag);
    if (v == nullptr) {
      if (required) Error(where + " has no " + what + " entry ID");
      return std::nullopt;
    }
    if (!have_key_) return std::nullopt;
    const auto nid = NidFromEntryId(v->bytes(), record_key_);
    if (!nid) {
      Error(where + ": the " + what + " entry ID is not an entry ID of this store");
      return std::nullopt;
    }
    const NidType type = NidTypeOf(*nid);
    if (!Has(*nid) || (type != NidType::kNormalFolder && type != NidType::kSearchFolder)) {
      Error(where + ": the " + what + " entry ID names " + Hex(*nid) + ", which is not a folder in the file");
      return std::nullopt;
    }
    return nid;
  }

  void LoadFolders() {
    for (const auto& [nid, e] : nodes_) {
      const NidType t = NidTypeOf(nid);
      if (t != NidType::kNormalFolder && t != NidType::kSearchFolder) continue;
      FolderInfo& f = folders_[nid];
      f.node = e;
      try {
        f.props = ReadProperties(db_, e);
        f.readable = true;
      } catch (const std::exception& ex) {
        Error("folder " + Hex(nid) + ": its property context cannot be read: " + ex.what());
      }
    }
  }

  std::string NameOf(Nid nid) const {
    const auto it = folders_.find(nid);
    if (it == folders_.end()) return Hex(nid);
    const PropValue* v = FindValue(it->second.props, tags::kDisplayName);
    return "\"" + (v ? v->AsString() : std::string()) + "\" (" + Hex(nid) + ")";
  }

  void CheckParents() {
    if (folders_.contains(kNidRootFolder) && folders_.at(kNidRootFolder).node.parent != kNidRootFolder) {
      Error("the root folder's parent is " + Hex(folders_.at(kNidRootFolder).node.parent) +
            "; it must be the root folder itself (0x122)");
    }
    for (const auto& [nid, f] : folders_) {
      if (nid == kNidRootFolder) continue;
      const Nid parent = f.node.parent;
      if (!folders_.contains(parent) || NidTypeOf(parent) != NidType::kNormalFolder) {
        Error("folder " + NameOf(nid) + " has parent " + Hex(parent) + ", which is not a folder");
        continue;
      }
      children_[parent].insert(nid);
      // Walk up to the root; a loop or a dead end means the folder is unreachable.
      std::set<Nid> seen{nid};
      Nid at = parent;
      while (at != kNidRootFolder) {
        if (!seen.insert(at).second || !folders_.contains(at)) {
          Error("folder " + NameOf(nid) + " is not below the root folder (its parents form a loop)");
          break;
        }
        at = folders_.at(at).node.parent;
      }
    }
    for (const auto& [nid, e] : nodes_) {
      const NidType t = NidTypeOf(nid);
      if (t == NidType::kNormalMessage || t == NidType::kAssocMessage) messages_[e.parent].push_back(nid);
    }
  }

  std::optional<TableData> Table(Nid folder, NidType type, const char* what) {
    const Nid nid = WithType(folder, type);
    if (!Has(nid)) {
      Error("folder " + NameOf(folder) + " has no " + what + " (" + Hex(nid) + ")");
      return std::nullopt;
    }
    try {
      return ReadTable(db_, nodes_.at(nid));
    } catch (const std::exception& e) {
      Error("folder " + NameOf(folder) + ": its " + what + " cannot be read: " + e.what());
      return std::nullopt;
    }
  }

  std::int32_t IntProp(const std::vector<TaggedValue>& props, PropTag tag, const std::string& where) {
    const PropValue* v = FindValue(props, tag);
    if (v == nullptr) {
      Error(where + " lacks property " + Hex(tag));
      return -1;
    }
    return v->AsInt32();
  }

  void CheckFolder(Nid nid, FolderInfo& f) {
    const std::string where = "folder " + NameOf(nid);
    if (FindValue(f.props, tags::kDisplayName) == nullptr) Error(where + " lacks PidTagDisplayName");
    const std::int32_t count = IntProp(f.props, tags::kContentCount, where);
    const std::int32_t unread = IntProp(f.props, tags::kContentUnreadCount, where);
    const PropValue* subfolders = FindValue(f.props, tags::kSubfolders);
    if (subfolders == nullptr) Error(where + " lacks PidTagSubfolders");
    const auto& kids = children_[nid];
    if (subfolders && subfolders->AsBool() != !kids.empty()) {
      Error(where + ": PidTagSubfolders is " + (subfolders->AsBool() ? "true" : "false") + " but it has " +
            std::to_string(kids.size()) + " sub-folders");
    }
    if (NidTypeOf(nid) == NidType::kSearchFolder) return;  // its rows are search results

    if (auto h = Table(nid, NidType::kHierarchyTable, "hierarchy table")) CheckHierarchy(nid, *h, kids);
    std::vector<Nid> normal, assoc;
    for (Nid m : messages_[nid]) (NidTypeOf(m) == NidType::kAssocMessage ? assoc : normal).push_back(m);
    if (auto c = Table(nid, NidType::kContentsTable, "contents table")) {
      CheckRowsMatch(where, "contents table", *c, normal);
      std::int32_t rows_unread = 0;
      for (const auto& row : c->rows) {
        const PropValue* flags = FindValue(row.cells, tags::kMessageFlags);
        if (flags == nullptr || (static_cast<std::uint32_t>(flags->AsInt32()) & kMessageFlagRead) == 0) ++rows_unread;
      }
      if (count >= 0 && static_cast<std::size_t>(count) != c->rows.size()) {
        Error(where + ": PidTagContentCount is " + std::to_string(count) + " but its contents table has " +
              std::to_string(c->rows.size()) + " rows");
      }
      if (unread >= 0 && unread != rows_unread) {
        Error(where + ": PidTagContentUnreadCount is " + std::to_string(unread) + " but " +
              std::to_string(rows_unread) + " rows of its contents table are unread");
      }
    }
    if (auto a = Table(nid, NidType::kAssocContentsTable, "associated contents table")) {
      CheckRowsMatch(where, "associated contents table", *a, assoc);
    }
  }

  void CheckRowsMatch(const std::string& where, const char* what, const TableData& table,
                      const std::vector<Nid>& objects) {
    std::set<Nid> rows;
    for (const auto& row : table.rows) {
      if (!rows.insert(row.row_id).second) Error(where + ": its " + what + " lists " + Hex(row.row_id) + " twice");
    }
    const std::set<Nid> have(objects.begin(), objects.end());
    for (Nid r : rows) {
      if (!have.contains(r)) Error(where + ": its " + what + " has a row for " + Hex(r) + ", which is not a message in it");
    }
    for (Nid m : have) {
      if (!rows.contains(m)) Error(where + ": message " + Hex(m) + " has no row in its " + what);
    }
  }

  void CheckHierarchy(Nid nid, const TableData& table, const std::set<Nid>& kids) {
    const std::string where = "folder " + NameOf(nid);
    std::set<Nid> rows;
    for (const auto& row : table.rows) {
      if (!rows.insert(row.row_id).second) {
        Error(where + ": its hierarchy table lists " + Hex(row.row_id) + " twice");
        continue;
      }
      if (!kids.contains(row.row_id)) {
        Error(where + ": its hierarchy table has a row for " + NameOf(row.row_id) + ", which is not a sub-folder of it");
        continue;
      }
      const FolderInfo& child = folders_.at(row.row_id);
      if (!child.readable) continue;
      // Each row repeats the child's own values (MS-PST 2.4.4.3).
      for (PropTag tag : {tags::kDisplayName, tags::kContentCount, tags::kContentUnreadCount,
                          tags::kSubfolders, tags::kContainerClass}) {
        const PropValue* in_row = FindValue(row.cells, tag);
        const PropValue* in_child = FindValue(child.props, tag);
        if (in_child && (!in_row || !(*in_row == *in_child))) {
          Error(where + ": its hierarchy row for " + NameOf(row.row_id) + " does not match the folder's " +
                Hex(tag));
        } else if (!in_child && in_row) {
          Error(where + ": its hierarchy row for " + NameOf(row.row_id) + " has " + Hex(tag) +
                ", which the folder lacks");
        }
      }
    }
    for (Nid k : kids) {
      if (!rows.contains(k)) Error("folder " + NameOf(k) + " is missing from the hierarchy table of its parent " + NameOf(nid));
    }
  }

  void CheckMessageParents() {
    for (const auto& [parent, list] : messages_) {
      if (folders_.contains(parent)) continue;
      for (Nid m : list) Error("message " + Hex(m) + " has parent " + Hex(parent) + ", which is not a folder");
    }
  }

  void CheckDefaultFolderIds() {
    if (store_props_.empty()) return;
    StoreEntryId(store_props_, tags::kIpmSubtreeEntryId, "IPM subtree", true, "the message store");
    StoreEntryId(store_props_, tags::kIpmWastebasketEntryId, "wastebasket", true, "the message store");
    StoreEntryId(store_props_, tags::kFinderEntryId, "finder", true, "the message store");
    StoreEntryId(store_props_, tags::kIpmOutboxEntryId, "outbox", false, "the message store");
    StoreEntryId(store_props_, tags::kIpmSentMailEntryId, "sent mail", false, "the message store");
    if (!folders_.contains(kNidRootFolder)) return;
    const auto& root = folders_.at(kNidRootFolder).props;
    const std::pair<PropTag, const char*> on_root[] = {
        {tags::kIpmAppointmentEntryId, "calendar"}, {tags::kIpmContactEntryId, "contacts"},
        {tags::kIpmJournalEntryId, "journal"},      {tags::kIpmNoteEntryId, "notes"},
        {tags::kIpmTaskEntryId, "tasks"},           {tags::kIpmDraftsEntryId, "drafts"}};
    for (const auto& [tag, what] : on_root) StoreEntryId(root, tag, what, false, "the root folder");
  }

  NodeDatabase& db_;
  const MessagingReport& report_;
  std::map<Nid, NodeEntry> nodes_;
  std::map<Nid, FolderInfo> folders_;
  std::unordered_map<Nid, std::set<Nid>> children_;
  std::unordered_map<Nid, std::vector<Nid>> messages_;
  std::vector<TaggedValue> store_props_;
  Guid record_key_{};
  bool have_key_ = false;
};

}  // namespace

void CheckMessaging(NodeDatabase& db, const MessagingReport& report) {
  MessagingChecker(db, report).Run();
}

std::vector<FolderTreeEntry> ReadFolderTree(NodeDatabase& db) {
  std::vector<FolderTreeEntry> out;
  std::set<Nid> visited;
  const std::function<void(Nid, int)> walk = [&](Nid nid, int depth) {
    if (!visited.insert(nid).second) return;  // a damaged file may loop
    const auto node = db.FindNode(nid);
    if (!node) return;
    FolderTreeEntry e;
    e.depth = depth;
    e.nid = nid;
    e.search_folder = NidTypeOf(nid) == NidType::kSearchFolder;
    const auto props = ReadProperties(db, *node);
    if (const PropValue* v = FindValue(props, tags::kDisplayName)) e.name = v->AsString();
    if (const PropValue* v = FindValue(props, tags::kContainerClass)) e.container_class = v->AsString();
    std::vector<Nid> children;
    if (!e.search_folder) {
      if (auto c = db.FindNode(WithType(nid, NidType::kContentsTable))) {
        e.items = static_cast<std::int32_t>(ReadTable(db, *c).rows.size());
      }
      if (auto a = db.FindNode(WithType(nid, NidType::kAssocContentsTable))) {
        e.associated = static_cast<std::int32_t>(ReadTable(db, *a).rows.size());
      }
      if (auto h = db.FindNode(WithType(nid, NidType::kHierarchyTable))) {
        for (const auto& row : ReadTable(db, *h).rows) children.push_back(row.row_id);
      }
    }
    out.push_back(std::move(e));
    for (Nid child : children) walk(child, depth + 1);
  };
  walk(kNidRootFolder, 0);
  return out;
}

}  // namespace mailvane::pst
