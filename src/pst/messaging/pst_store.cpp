#include "pst/messaging/pst_store.h"

#include <algorithm>

#include "base/hex.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/entry_id.h"
#include "pst/messaging/folder_names.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/table_templates.h"
#include "pst/ndb/format_error.h"

namespace mailvane::pst::messaging {

namespace {

constexpr ndb::Nid kNidReceiveFolderTable = 0x62B;
constexpr std::uint32_t kMessageFlagRead = 0x01;

bool IsUnread(const std::vector<ltp::TaggedValue>& cells) {
  const ltp::PropValue* flags = FindValue(cells, kPrMessageFlags);
  return flags == nullptr || (static_cast<std::uint32_t>(flags->AsInt32()) & kMessageFlagRead) == 0;
}

std::vector<TableRow> HierarchyRows(const std::unordered_map<ndb::Nid, FolderState>& folders,
                                    const FolderState& parent) {
  std::vector<TableRow> rows;
  rows.reserve(parent.children.size());
  for (ndb::Nid child : parent.children) {
    const FolderState& c = folders.at(child);
    TableRow row{child, {}};
    row.cells.push_back({kPrDisplayName, ltp::PropValue::String(c.name)});
    row.cells.push_back({kPrContentCount, ltp::PropValue::Int32(c.content_count)});
    row.cells.push_back({kPrContentUnreadCount, ltp::PropValue::Int32(c.unread_count)});
    row.cells.push_back({kPrSubfolders, ltp::PropValue::Boolean(!c.children.empty())});
    if (c.container_class) {
      row.cells.push_back({kPrContainerClass, ltp::PropValue::String(*c.container_class)});
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

PstStore::PstStore(std::unique_ptr<ndb::NodeDatabase> db, bool writable)
    : db_(std::move(db)), writable_(writable) {}

PstStore::~PstStore() = default;

std::unique_ptr<PstStore> PstStore::Open(const std::filesystem::path& path, bool writable) {
  std::unique_ptr<PstStore> store(new PstStore(ndb::NodeDatabase::Open(path, writable), writable));
  store->path_ = path;
  store->LoadStore();
  store->LoadFolders();
  store->name_to_id_map();  // a damaged map is reported when the file is opened
  return store;
}

void PstStore::RequireOpen() const {
  if (closed_) throw std::logic_error("the PST store is closed");
}

void PstStore::RequireWritable() const {
  RequireOpen();
  if (!writable_) throw FolderError("the PST store was opened read-only");
}

const FolderState& PstStore::StateOf(ndb::Nid nid) const {
  RequireOpen();
  const auto it = folders_.find(nid);
  if (it == folders_.end()) throw FolderError("no folder with NID " + base::Hex(nid) + " in the store");
  return it->second;
}

FolderState& PstStore::MutableState(ndb::Nid nid) { return const_cast<FolderState&>(StateOf(nid)); }

Folder PstStore::GetFolder(ndb::Nid nid) {
  StateOf(nid);
  return Folder(*this, nid);
}

Folder PstStore::GetDefaultFolder(DefaultFolder kind) {
  RequireOpen();
  const auto it = default_folders_.find(kind);
  if (it == default_folders_.end() || !folders_.contains(it->second)) {
    throw FolderError("the store has no default folder \"" + std::string(InfoOf(kind).name) + "\"");
  }
  return Folder(*this, it->second);
}

std::optional<Folder> PstStore::FindFolder(std::string_view path) {
  Folder current = IpmSubtree();
  while (!path.empty()) {
    const std::size_t cut = path.find('\\');
    const std::string_view part = path.substr(0, cut);
    path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
    if (part.empty()) continue;  // a leading, doubled or trailing "\"
    const auto next = current.FindSubFolder(part);
    if (!next) return std::nullopt;
    current = *next;
  }
  return current;
}

std::vector<std::uint8_t> PstStore::EntryIdOf(ndb::Nid nid) const { return MakeEntryId(record_key_, nid); }

Folder PstStore::AddFolder(ndb::Nid parent_nid, std::string_view name, std::string_view container_class) {
  RequireWritable();
  const FolderState& parent = StateOf(parent_nid);
  if (ndb::NidTypeOf(parent_nid) != ndb::NidType::kNormalFolder) {
    throw FolderError("cannot add folder \"" + std::string(name) + "\": \"" + parent.name +
                      "\" is a search folder");
  }
  if (name.empty()) throw FolderError("cannot add a folder with an empty name under \"" + parent.name + "\"");
  for (ndb::Nid child : parent.children) {
    if (FolderNamesCollide(folders_.at(child).name, name)) {
      throw FolderError("cannot add folder \"" + std::string(name) + "\" under \"" + parent.name +
                        "\": a folder named \"" + folders_.at(child).name + "\" is already there");
    }
  }
  const ndb::Nid nid = AllocateFolderNid();
  NewFolderState(nid, parent_nid, name, container_class);
  FolderState& p = MutableState(parent_nid);
  p.children.push_back(nid);
  p.hierarchy_dirty = true;
  if (p.children.size() == 1) {
    // PidTagSubfolders changes: in the parent's own object and in the grandparent's row.
    p.props_dirty = true;
    if (p.parent != p.nid) MutableState(p.parent).hierarchy_dirty = true;
  }
  return Folder(*this, nid);
}

ndb::Nid PstStore::AllocateFolderNid() {
  // A folder's three tables share its index; the header's counters for the table types
  // must cover that index too, so they are drawn up with the folder's.
  const ndb::Nid nid = db_->AllocateNid(ndb::NidType::kNormalFolder);
  for (ndb::NidType t : {ndb::NidType::kHierarchyTable, ndb::NidType::kContentsTable, ndb::NidType::kAssocContentsTable}) {
    while (ndb::NidIndexOf(db_->AllocateNid(t)) < ndb::NidIndexOf(nid)) {
    }
  }
  return nid;
}

namespace {

// Drops the cells a contents table has no column for (and its own row id and version).
void KeepContentsColumns(std::vector<ltp::TaggedValue>& cells) {
  const auto columns = ContentsColumns();
  std::erase_if(cells, [&](const ltp::TaggedValue& v) {
    return std::find(columns.begin(), columns.end(), v.tag) == columns.end() || v.tag == ltp::kPrLtpRowId ||
           v.tag == ltp::kPrLtpRowVer;
  });
}

}  // namespace

void PstStore::LoadContents(FolderState& folder) {
  if (folder.contents) return;
  auto table = std::make_unique<ltp::TableContextAppender>(ContentsColumns());
  const auto node = db_->FindNode(ndb::WithType(folder.nid, ndb::NidType::kContentsTable));
  if (node) {
    std::vector<ltp::TcRow> rows;
    for (TableRow& row : ReadTable(*db_, *node).rows) {
      KeepContentsColumns(row.cells);
      rows.push_back(ltp::TcRow{row.row_id, 0, std::move(row.cells)});
    }
    try {
      table->Load(*db_, rows);
    } catch (...) {
      table->Release(*db_);
      throw;
    }
  }
  folder.contents = std::move(table);
}

void PstStore::PutContentsRow(ndb::Nid folder_nid, ndb::Nid message, std::vector<ltp::TaggedValue> cells) {
  RequireWritable();
  FolderState& folder = MutableState(folder_nid);
  LoadContents(folder);
  KeepContentsColumns(cells);
  const bool unread = IsUnread(cells);
  ltp::TableContextAppender& table = *folder.contents;
  if (!table.Contains(*db_, message)) {
    table.Append(*db_, message, cells);
    folder.content_count += 1;
    folder.unread_count += unread ? 1 : 0;
  } else {
    const auto flags = table.Cell32(*db_, message, kPrMessageFlags);
    const bool was_unread = !flags || (*flags & kMessageFlagRead) == 0;
    table.Replace(*db_, message, cells);
    folder.unread_count += (unread ? 1 : 0) - (was_unread ? 1 : 0);
  }
  folder.contents_dirty = folder.props_dirty = true;
  if (folder.parent != folder.nid) MutableState(folder.parent).hierarchy_dirty = true;
}

void PstStore::WriteFolder(FolderState& f) {
  ndb::NodeDatabase& db = *db_;
  const bool search = ndb::NidTypeOf(f.nid) == ndb::NidType::kSearchFolder;
  if (f.props_dirty) {
    SetValue(f.props, kPrDisplayName, ltp::PropValue::String(f.name));
    SetValue(f.props, kPrContentCount, ltp::PropValue::Int32(f.content_count));
    SetValue(f.props, kPrContentUnreadCount, ltp::PropValue::Int32(f.unread_count));
    SetValue(f.props, kPrSubfolders, ltp::PropValue::Boolean(!f.children.empty()));
    if (f.container_class) SetValue(f.props, kPrContainerClass, ltp::PropValue::String(*f.container_class));
    const NodeContent pc = WriteProperties(db, f.props);
    db.PutNode(ndb::NodeEntry{f.nid, pc.data, pc.subnodes, f.parent});
  }
  if (search) {  // a search folder's tables are kept by the search machinery, not here
    f.props_dirty = f.hierarchy_dirty = f.contents_dirty = false;
    return;
  }
  auto put_table = [&](ndb::NidType type, ndb::Bid empty, std::span<const ltp::PropTag> columns,
                       std::size_t row_count, const std::function<TableRowView(std::size_t)>& row_at) {
    const ndb::Nid nid = ndb::WithType(f.nid, type);
    if (row_count == 0) {
      const auto existing = db.FindNode(nid);
      if (existing && existing->data == empty && existing->subnodes == 0) return;
      db.AddRef(empty);  // an empty table shares the template's block, as Outlook does
      db.PutNode(ndb::NodeEntry{nid, empty, 0, 0});
    } else {
      const NodeContent c = WriteTable(db, columns, row_count, row_at);
      db.PutNode(ndb::NodeEntry{nid, c.data, c.subnodes, 0});
    }
  };
  if (f.hierarchy_dirty) {
    const std::vector<TableRow> rows = HierarchyRows(folders_, f);
    put_table(ndb::NidType::kHierarchyTable, empty_hierarchy_, HierarchyColumns(),
              rows.size(), [&](std::size_t i) { return TableRowView{rows[i].row_id, rows[i].cells}; });
  }
  if (f.contents_dirty) {
    if (!f.contents || f.contents->row_count() == 0) {
      put_table(ndb::NidType::kContentsTable, empty_contents_, ContentsColumns(), 0, {});
    } else {
      // Only the blocks written since the last commit are new; the rest is shared.
      const auto table = f.contents->Write(db);
      db.PutNode(ndb::NodeEntry{ndb::WithType(f.nid, ndb::NidType::kContentsTable), table.data, table.subnodes, 0});
    }
  }
  if (!db.FindNode(ndb::WithType(f.nid, ndb::NidType::kAssocContentsTable))) {
    put_table(ndb::NidType::kAssocContentsTable, empty_assoc_, AssocContentsColumns(), 0, {});
  }
  f.props_dirty = f.hierarchy_dirty = f.contents_dirty = false;
}

NameToIdMap& PstStore::name_to_id_map() {
  RequireOpen();
  if (!name_map_) name_map_ = std::make_unique<NameToIdMap>(NameToIdMap::Load(*db_));
  return *name_map_;
}

void PstStore::Commit() {
  RequireOpen();
  if (!writable_) return;
  if (name_map_ && name_map_->changed()) name_map_->Write(*db_);
  // A run fills its folders one after the other: a table that gained nothing since the
  // last commit is likely done. Its trees in the file hold all of it, so dropping it frees
  // its partial pages and blocks; a later row reads it back (LoadContents). A big table
  // stays: reading it back would cost as much as the rows it holds.
  constexpr std::size_t kDropRowsAtMost = 4096;
  for (auto& [nid, folder] : folders_) {
    const bool idle = !folder.contents_dirty;
    if (folder.props_dirty || folder.hierarchy_dirty || folder.contents_dirty) WriteFolder(folder);
    if (idle && folder.contents && folder.contents->row_count() <= kDropRowsAtMost) {
      folder.contents->Release(*db_);  // nothing, once its rows are in a committed tree
      folder.contents.reset();
    }
  }
  db_->Commit();
}

std::size_t PstStore::ContentsTablesHeld() const {
  return static_cast<std::size_t>(
      std::count_if(folders_.begin(), folders_.end(), [](const auto& f) { return f.second.contents != nullptr; }));
}

std::uint64_t PstStore::SizeWith(std::uint64_t more) const {
  // The next commit writes what the changed folders' contents tables gained and rebuilds
  // their other tables whole in new space before the old copies are freed; a row takes
  // less than 512 bytes with its strings.
  constexpr std::uint64_t kRow = 512;
  constexpr std::uint64_t kTable = 8192;
  std::uint64_t pending = 64 << 10;  // B-tree pages
  for (const auto& [nid, folder] : folders_) {
    if (folder.contents_dirty) pending += folder.contents ? folder.contents->WriteSizeEstimate() : kTable;
    if (folder.hierarchy_dirty) pending += kTable + folder.children.size() * kRow;
    if (folder.props_dirty) pending += kTable;
  }
  return db_->SizeWith(more + pending);
}

void PstStore::Close() {
  if (closed_) return;
  Commit();
  db_->Close();
  closed_ = true;
}

void PstStore::LoadStore() {
  const auto store_node = db_->FindNode(ndb::kNidMessageStore);
  if (!store_node) throw ndb::FormatError("the PST has no message store object (NID 0x21)");
  const auto props = ReadProperties(*db_, *store_node);
  const ltp::PropValue* key = FindValue(props, kPrRecordKey);
  if (key == nullptr || key->bytes().size() != record_key_.size()) {
    throw ndb::FormatError("the message store has no 16-byte record key (PidTagRecordKey)");
  }
  std::copy(key->bytes().begin(), key->bytes().end(), record_key_.begin());
  if (const ltp::PropValue* name = FindValue(props, kPrDisplayName)) display_name_ = name->AsString();
  auto nid_of = [&](ltp::PropTag tag) -> std::optional<ndb::Nid> {
    const ltp::PropValue* v = FindValue(props, tag);
    if (v == nullptr) return std::nullopt;
    return NidFromEntryId(v->bytes(), record_key_);
  };
  const auto subtree = nid_of(kPrIpmSubtreeEntryId);
  const auto finder = nid_of(kPrFinderEntryId);
  if (!subtree) throw ndb::FormatError("the message store has no valid IPM subtree entry ID");
  ipm_subtree_ = *subtree;
  search_root_ = finder.value_or(0);
  if (auto n = nid_of(kPrIpmOutboxEntryId)) default_folders_[DefaultFolder::kOutbox] = *n;
  if (auto n = nid_of(kPrIpmWastebasketEntryId)) default_folders_[DefaultFolder::kDeletedItems] = *n;
  if (auto n = nid_of(kPrIpmSentMailEntryId)) default_folders_[DefaultFolder::kSentMail] = *n;

  if (const auto receive = db_->FindNode(kNidReceiveFolderTable)) {
    for (const TableRow& row : ReadTable(*db_, *receive).rows) {
      const ltp::PropValue* cls = FindValue(row.cells, kPrMessageClass);
      const ltp::PropValue* nid = FindValue(row.cells, kPrPstReceiveFolderNid);
      if (cls && nid && (cls->AsString().empty() || cls->AsString() == "IPM")) {
        default_folders_[DefaultFolder::kInbox] = static_cast<ndb::Nid>(nid->AsInt32());
      }
    }
  }
  for (auto t : {ndb::kNidHierarchyTableTemplate, ndb::kNidContentsTableTemplate, ndb::kNidAssocContentsTableTemplate}) {
    if (!db_->FindNode(t)) throw ndb::FormatError("the PST has no table template " + base::Hex(t));
  }
  empty_hierarchy_ = db_->FindNode(ndb::kNidHierarchyTableTemplate)->data;
  empty_contents_ = db_->FindNode(ndb::kNidContentsTableTemplate)->data;
  empty_assoc_ = db_->FindNode(ndb::kNidAssocContentsTableTemplate)->data;
}

void PstStore::LoadFolders() {
  std::vector<ndb::NodeEntry> folder_nodes;
  db_->ForEachNode([&](const ndb::NodeEntry& e) {
    const ndb::NidType t = ndb::NidTypeOf(e.nid);
    if (t == ndb::NidType::kNormalFolder || t == ndb::NidType::kSearchFolder) folder_nodes.push_back(e);
  });
  for (const ndb::NodeEntry& e : folder_nodes) {
    FolderState& f = folders_[e.nid];
    f.nid = e.nid;
    f.parent = e.parent;
    f.props = ReadProperties(*db_, e);
    if (const ltp::PropValue* v = FindValue(f.props, kPrDisplayName)) f.name = v->AsString();
    if (const ltp::PropValue* v = FindValue(f.props, kPrContainerClass)) f.container_class = v->AsString();
    if (const ltp::PropValue* v = FindValue(f.props, kPrContentCount)) f.content_count = v->AsInt32();
    if (const ltp::PropValue* v = FindValue(f.props, kPrContentUnreadCount)) f.unread_count = v->AsInt32();
  }
  // Children in the order of each parent's hierarchy table.
  for (auto& [nid, f] : folders_) {
    if (ndb::NidTypeOf(nid) != ndb::NidType::kNormalFolder) continue;
    const auto node = db_->FindNode(ndb::WithType(nid, ndb::NidType::kHierarchyTable));
    if (!node) throw ndb::FormatError("folder " + base::Hex(nid) + " has no hierarchy table");
    for (const TableRow& row : ReadTable(*db_, *node).rows) {
      const auto child = folders_.find(row.row_id);
      if (child == folders_.end() || child->second.parent != nid) {
        throw ndb::FormatError("the hierarchy table of folder " + base::Hex(nid) + " lists " + base::Hex(row.row_id) +
                          ", which is not a sub-folder of it");
      }
      f.children.push_back(row.row_id);
    }
  }
  if (!folders_.contains(ndb::kNidRootFolder) || !folders_.contains(ipm_subtree_)) {
    throw ndb::FormatError("the PST lacks its root folder or the top of its folder tree");
  }
  // Default folders Outlook finds through the root folder's entry IDs.
  const auto& root_props = folders_.at(ndb::kNidRootFolder).props;
  const std::pair<ltp::PropTag, DefaultFolder> by_root[] = {
      {kPrIpmAppointmentEntryId, DefaultFolder::kCalendar},
      {kPrIpmContactEntryId, DefaultFolder::kContacts},
      {kPrIpmJournalEntryId, DefaultFolder::kJournal},
      {kPrIpmNoteEntryId, DefaultFolder::kNotes},
      {kPrIpmTaskEntryId, DefaultFolder::kTasks},
      {kPrIpmDraftsEntryId, DefaultFolder::kDrafts}};
  for (const auto& [tag, kind] : by_root) {
    if (const ltp::PropValue* v = FindValue(root_props, tag)) {
      if (auto n = NidFromEntryId(v->bytes(), record_key_)) default_folders_[kind] = *n;
    }
  }
  if (const ltp::PropValue* v = FindValue(root_props, kPrAdditionalRenEntryIds)) {
    const auto ids = v->AsMvBinary();
    if (ids.size() > kRenJunkIndex) {
      if (auto n = NidFromEntryId(ids[kRenJunkIndex], record_key_)) {
        default_folders_[DefaultFolder::kJunk] = *n;
      }
    }
  }
}

}  // namespace mailvane::pst::messaging
