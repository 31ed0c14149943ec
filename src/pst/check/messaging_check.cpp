#include "pst/check/messaging_check.h"

#include <algorithm>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "base/hex.h"
#include "pst/messaging/entry_id.h"
#include "pst/messaging/ltp_access.h"
#include "pst/messaging/property_tags.h"

namespace mailvane::pst::check {

namespace {

constexpr std::uint32_t kMessageFlagRead = 0x01;

struct FolderInfo {
  ndb::NodeEntry node;
  std::vector<ltp::TaggedValue> props;
  bool readable = false;
};

class MessagingChecker {
 public:
  MessagingChecker(ndb::NodeDatabase& db, const MessagingReport& report) : db_(db), report_(report) {}

  void Run() {
    db_.ForEachNode([&](const ndb::NodeEntry& e) { nodes_[e.nid] = e; });
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

  bool Has(ndb::Nid nid) const { return nodes_.contains(nid); }

  void CheckMandatoryNodes() {
    const std::pair<ndb::Nid, const char*> mandatory[] = {
        {ndb::kNidMessageStore, "message store"},
        {ndb::kNidNameToIdMap, "name-to-ID map"},
        {ndb::kNidRootFolder, "root folder"},
        {ndb::WithType(ndb::kNidRootFolder, ndb::NidType::kHierarchyTable), "root folder hierarchy table"},
        {ndb::WithType(ndb::kNidRootFolder, ndb::NidType::kContentsTable), "root folder contents table"},
        {ndb::WithType(ndb::kNidRootFolder, ndb::NidType::kAssocContentsTable), "root folder associated contents table"},
        {ndb::kNidSearchManagementQueue, "search management queue"},
        {ndb::kNidSearchActivityList, "search activity list"},
        {ndb::kNidHierarchyTableTemplate, "hierarchy table template"},
        {ndb::kNidContentsTableTemplate, "contents table template"},
        {ndb::kNidAssocContentsTableTemplate, "associated contents table template"},
        {ndb::kNidSearchContentsTableTemplate, "search contents table template"},
        {0x671, "attachment table template"},
        {0x692, "recipient table template"},
    };
    for (const auto& [nid, what] : mandatory) {
      if (!Has(nid)) Error(std::string("mandatory node ") + base::Hex(nid) + " (" + what + ") is missing");
    }
    for (ndb::Nid t : {ndb::kNidHierarchyTableTemplate, ndb::kNidContentsTableTemplate, ndb::kNidAssocContentsTableTemplate,
                  ndb::kNidSearchContentsTableTemplate, ndb::Nid{0x671}, ndb::Nid{0x692}}) {
      if (!Has(t)) continue;
      try {
        const messaging::TableData table = messaging::ReadTable(db_, nodes_.at(t));
        if (!table.rows.empty()) Error("table template " + base::Hex(t) + " has " + std::to_string(table.rows.size()) + " rows; a template has none");
      } catch (const std::exception& e) {
        Error("table template " + base::Hex(t) + " cannot be read: " + e.what());
      }
    }
    if (Has(ndb::kNidNameToIdMap)) {
      try {
        const auto props = messaging::ReadProperties(db_, nodes_.at(ndb::kNidNameToIdMap));
        if (messaging::FindValue(props, messaging::kPrNameidBucketCount) == nullptr) {
          Error("the name-to-ID map has no PidTagNameidBucketCount");
        }
      } catch (const std::exception& e) {
        Error(std::string("the name-to-ID map cannot be read: ") + e.what());
      }
    }
  }

  void CheckStore() {
    if (!Has(ndb::kNidMessageStore)) return;
    try {
      store_props_ = messaging::ReadProperties(db_, nodes_.at(ndb::kNidMessageStore));
    } catch (const std::exception& e) {
      Error(std::string("the message store object cannot be read: ") + e.what());
      return;
    }
    const ltp::PropValue* key = messaging::FindValue(store_props_, messaging::kPrRecordKey);
    if (key == nullptr || key->bytes().size() != 16) {
      Error("the message store has no 16-byte PidTagRecordKey");
      return;
    }
    std::copy(key->bytes().begin(), key->bytes().end(), record_key_.begin());
    have_key_ = true;
    if (messaging::FindValue(store_props_, messaging::kPrDisplayName) == nullptr) {
      Error("the message store has no PidTagDisplayName");
    }
  }

  // The NID an entry ID property of the store names, reporting a bad one.
  std::optional<ndb::Nid> StoreEntryId(const std::vector<ltp::TaggedValue>& props, ltp::PropTag tag,
                                  const char* what, bool required, const std::string& where) {
    const ltp::PropValue* v = messaging::FindValue(props, tag);
    if (v == nullptr) {
      if (required) Error(where + " has no " + what + " entry ID");
      return std::nullopt;
    }
    if (!have_key_) return std::nullopt;
    const auto nid = messaging::NidFromEntryId(v->bytes(), record_key_);
    if (!nid) {
      Error(where + ": the " + what + " entry ID is not an entry ID of this store");
      return std::nullopt;
    }
    const ndb::NidType type = ndb::NidTypeOf(*nid);
    if (!Has(*nid) || (type != ndb::NidType::kNormalFolder && type != ndb::NidType::kSearchFolder)) {
      Error(where + ": the " + what + " entry ID names " + base::Hex(*nid) + ", which is not a folder in the file");
      return std::nullopt;
    }
    return nid;
  }

  void LoadFolders() {
    for (const auto& [nid, e] : nodes_) {
      const ndb::NidType t = ndb::NidTypeOf(nid);
      if (t != ndb::NidType::kNormalFolder && t != ndb::NidType::kSearchFolder) continue;
      FolderInfo& f = folders_[nid];
      f.node = e;
      try {
        f.props = messaging::ReadProperties(db_, e);
        f.readable = true;
      } catch (const std::exception& ex) {
        Error("folder " + base::Hex(nid) + ": its property context cannot be read: " + ex.what());
      }
    }
  }

  std::string NameOf(ndb::Nid nid) const {
    const auto it = folders_.find(nid);
    if (it == folders_.end()) return base::Hex(nid);
    const ltp::PropValue* v = messaging::FindValue(it->second.props, messaging::kPrDisplayName);
    return "\"" + (v ? v->AsString() : std::string()) + "\" (" + base::Hex(nid) + ")";
  }

  void CheckParents() {
    if (folders_.contains(ndb::kNidRootFolder) && folders_.at(ndb::kNidRootFolder).node.parent != ndb::kNidRootFolder) {
      Error("the root folder's parent is " + base::Hex(folders_.at(ndb::kNidRootFolder).node.parent) +
            "; it must be the root folder itself (0x122)");
    }
    for (const auto& [nid, f] : folders_) {
      if (nid == ndb::kNidRootFolder) continue;
      const ndb::Nid parent = f.node.parent;
      if (!folders_.contains(parent) || ndb::NidTypeOf(parent) != ndb::NidType::kNormalFolder) {
        Error("folder " + NameOf(nid) + " has parent " + base::Hex(parent) + ", which is not a folder");
        continue;
      }
      children_[parent].insert(nid);
      // Walk up to the root; a loop or a dead end means the folder is unreachable.
      std::set<ndb::Nid> seen{nid};
      ndb::Nid at = parent;
      while (at != ndb::kNidRootFolder) {
        if (!seen.insert(at).second || !folders_.contains(at)) {
          Error("folder " + NameOf(nid) + " is not below the root folder (its parents form a loop)");
          break;
        }
        at = folders_.at(at).node.parent;
      }
    }
    for (const auto& [nid, e] : nodes_) {
      const ndb::NidType t = ndb::NidTypeOf(nid);
      if (t == ndb::NidType::kNormalMessage || t == ndb::NidType::kAssocMessage) messages_[e.parent].push_back(nid);
    }
  }

  std::optional<messaging::TableData> Table(ndb::Nid folder, ndb::NidType type, const char* what) {
    const ndb::Nid nid = ndb::WithType(folder, type);
    if (!Has(nid)) {
      Error("folder " + NameOf(folder) + " has no " + what + " (" + base::Hex(nid) + ")");
      return std::nullopt;
    }
    try {
      return messaging::ReadTable(db_, nodes_.at(nid));
    } catch (const std::exception& e) {
      Error("folder " + NameOf(folder) + ": its " + what + " cannot be read: " + e.what());
      return std::nullopt;
    }
  }

  std::int32_t IntProp(const std::vector<ltp::TaggedValue>& props, ltp::PropTag tag, const std::string& where) {
    const ltp::PropValue* v = messaging::FindValue(props, tag);
    if (v == nullptr) {
      Error(where + " lacks property " + base::Hex(tag));
      return -1;
    }
    return v->AsInt32();
  }

  void CheckFolder(ndb::Nid nid, FolderInfo& f) {
    const std::string where = "folder " + NameOf(nid);
    if (messaging::FindValue(f.props, messaging::kPrDisplayName) == nullptr) Error(where + " lacks PidTagDisplayName");
    const std::int32_t count = IntProp(f.props, messaging::kPrContentCount, where);
    const std::int32_t unread = IntProp(f.props, messaging::kPrContentUnreadCount, where);
    const ltp::PropValue* subfolders = messaging::FindValue(f.props, messaging::kPrSubfolders);
    if (subfolders == nullptr) Error(where + " lacks PidTagSubfolders");
    const auto& kids = children_[nid];
    if (subfolders && subfolders->AsBool() != !kids.empty()) {
      Error(where + ": PidTagSubfolders is " + (subfolders->AsBool() ? "true" : "false") + " but it has " +
            std::to_string(kids.size()) + " sub-folders");
    }
    if (ndb::NidTypeOf(nid) == ndb::NidType::kSearchFolder) return;  // its rows are search results

    if (auto h = Table(nid, ndb::NidType::kHierarchyTable, "hierarchy table")) CheckHierarchy(nid, *h, kids);
    std::vector<ndb::Nid> normal, assoc;
    for (ndb::Nid m : messages_[nid]) (ndb::NidTypeOf(m) == ndb::NidType::kAssocMessage ? assoc : normal).push_back(m);
    if (auto c = Table(nid, ndb::NidType::kContentsTable, "contents table")) {
      CheckRowsMatch(where, "contents table", *c, normal);
      std::int32_t rows_unread = 0;
      for (const auto& row : c->rows) {
        const ltp::PropValue* flags = messaging::FindValue(row.cells, messaging::kPrMessageFlags);
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
    if (auto a = Table(nid, ndb::NidType::kAssocContentsTable, "associated contents table")) {
      CheckRowsMatch(where, "associated contents table", *a, assoc);
    }
  }

  void CheckRowsMatch(const std::string& where, const char* what, const messaging::TableData& table,
                      const std::vector<ndb::Nid>& objects) {
    std::set<ndb::Nid> rows;
    for (const auto& row : table.rows) {
      if (!rows.insert(row.row_id).second) Error(where + ": its " + what + " lists " + base::Hex(row.row_id) + " twice");
    }
    const std::set<ndb::Nid> have(objects.begin(), objects.end());
    for (ndb::Nid r : rows) {
      if (!have.contains(r)) Error(where + ": its " + what + " has a row for " + base::Hex(r) + ", which is not a message in it");
    }
    for (ndb::Nid m : have) {
      if (!rows.contains(m)) Error(where + ": message " + base::Hex(m) + " has no row in its " + what);
    }
  }

  void CheckHierarchy(ndb::Nid nid, const messaging::TableData& table, const std::set<ndb::Nid>& kids) {
    const std::string where = "folder " + NameOf(nid);
    std::set<ndb::Nid> rows;
    for (const auto& row : table.rows) {
      if (!rows.insert(row.row_id).second) {
        Error(where + ": its hierarchy table lists " + base::Hex(row.row_id) + " twice");
        continue;
      }
      if (!kids.contains(row.row_id)) {
        Error(where + ": its hierarchy table has a row for " + NameOf(row.row_id) + ", which is not a sub-folder of it");
        continue;
      }
      const FolderInfo& child = folders_.at(row.row_id);
      if (!child.readable) continue;
      // Each row repeats the child's own values (MS-PST 2.4.4.3).
      for (ltp::PropTag tag : {messaging::kPrDisplayName, messaging::kPrContentCount, messaging::kPrContentUnreadCount,
                          messaging::kPrSubfolders, messaging::kPrContainerClass}) {
        const ltp::PropValue* in_row = messaging::FindValue(row.cells, tag);
        const ltp::PropValue* in_child = messaging::FindValue(child.props, tag);
        if (in_child && (!in_row || !(*in_row == *in_child))) {
          Error(where + ": its hierarchy row for " + NameOf(row.row_id) + " does not match the folder's " +
                base::Hex(tag));
        } else if (!in_child && in_row) {
          Error(where + ": its hierarchy row for " + NameOf(row.row_id) + " has " + base::Hex(tag) +
                ", which the folder lacks");
        }
      }
    }
    for (ndb::Nid k : kids) {
      if (!rows.contains(k)) Error("folder " + NameOf(k) + " is missing from the hierarchy table of its parent " + NameOf(nid));
    }
  }

  void CheckMessageParents() {
    for (const auto& [parent, list] : messages_) {
      if (folders_.contains(parent)) continue;
      for (ndb::Nid m : list) Error("message " + base::Hex(m) + " has parent " + base::Hex(parent) + ", which is not a folder");
    }
  }

  void CheckDefaultFolderIds() {
    if (store_props_.empty()) return;
    StoreEntryId(store_props_, messaging::kPrIpmSubtreeEntryId, "IPM subtree", true, "the message store");
    StoreEntryId(store_props_, messaging::kPrIpmWastebasketEntryId, "wastebasket", true, "the message store");
    StoreEntryId(store_props_, messaging::kPrFinderEntryId, "finder", true, "the message store");
    StoreEntryId(store_props_, messaging::kPrIpmOutboxEntryId, "outbox", false, "the message store");
    StoreEntryId(store_props_, messaging::kPrIpmSentMailEntryId, "sent mail", false, "the message store");
    if (!folders_.contains(ndb::kNidRootFolder)) return;
    const auto& root = folders_.at(ndb::kNidRootFolder).props;
    const std::pair<ltp::PropTag, const char*> on_root[] = {
        {messaging::kPrIpmAppointmentEntryId, "calendar"}, {messaging::kPrIpmContactEntryId, "contacts"},
        {messaging::kPrIpmJournalEntryId, "journal"},      {messaging::kPrIpmNoteEntryId, "notes"},
        {messaging::kPrIpmTaskEntryId, "tasks"},           {messaging::kPrIpmDraftsEntryId, "drafts"}};
    for (const auto& [tag, what] : on_root) StoreEntryId(root, tag, what, false, "the root folder");
  }

  ndb::NodeDatabase& db_;
  const MessagingReport& report_;
  std::map<ndb::Nid, ndb::NodeEntry> nodes_;
  std::map<ndb::Nid, FolderInfo> folders_;
  std::unordered_map<ndb::Nid, std::set<ndb::Nid>> children_;
  std::unordered_map<ndb::Nid, std::vector<ndb::Nid>> messages_;
  std::vector<ltp::TaggedValue> store_props_;
  ltp::Guid record_key_{};
  bool have_key_ = false;
};

}  // namespace

void CheckMessaging(ndb::NodeDatabase& db, const MessagingReport& report) {
  MessagingChecker(db, report).Run();
}

std::vector<FolderTreeEntry> ReadFolderTree(ndb::NodeDatabase& db) {
  std::vector<FolderTreeEntry> out;
  std::set<ndb::Nid> visited;
  const std::function<void(ndb::Nid, int)> walk = [&](ndb::Nid nid, int depth) {
    if (!visited.insert(nid).second) return;  // a damaged file may loop
    const auto node = db.FindNode(nid);
    if (!node) return;
    FolderTreeEntry e;
    e.depth = depth;
    e.nid = nid;
    e.search_folder = ndb::NidTypeOf(nid) == ndb::NidType::kSearchFolder;
    const auto props = messaging::ReadProperties(db, *node);
    if (const ltp::PropValue* v = messaging::FindValue(props, messaging::kPrDisplayName)) e.name = v->AsString();
    if (const ltp::PropValue* v = messaging::FindValue(props, messaging::kPrContainerClass)) e.container_class = v->AsString();
    std::vector<ndb::Nid> children;
    if (!e.search_folder) {
      if (auto c = db.FindNode(ndb::WithType(nid, ndb::NidType::kContentsTable))) {
        e.items = static_cast<std::int32_t>(messaging::ReadTable(db, *c).rows.size());
      }
      if (auto a = db.FindNode(ndb::WithType(nid, ndb::NidType::kAssocContentsTable))) {
        e.associated = static_cast<std::int32_t>(messaging::ReadTable(db, *a).rows.size());
      }
      if (auto h = db.FindNode(ndb::WithType(nid, ndb::NidType::kHierarchyTable))) {
        for (const auto& row : messaging::ReadTable(db, *h).rows) children.push_back(row.row_id);
      }
    }
    out.push_back(std::move(e));
    for (ndb::Nid child : children) walk(child, depth + 1);
  };
  walk(ndb::kNidRootFolder, 0);
  return out;
}

}  // namespace mailvane::pst::check
