#include "pst/messaging/pst_store.h"

#include <algorithm>

#include "pst/messaging/entry_id.h"
#include "pst/messaging/folder_names.h"
#include "pst/messaging/name_to_id_map.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/table_templates.h"
#include "pst/ndb/format_error.h"

namespace mailvane::pst {

namespace {

constexpr Nid kNidReceiveFolderTable = 0x62B;
constexpr std::uint32_t kMessageFlagRead = 0x01;

std::string Hex(Nid nid) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) s.push_back(digits[(nid >> shift) & 0xF]);
  return s;
}

bool IsUnread(const std::vector<TaggedValue>& cells) {
  const PropValue* flags = FindValue(cells, tags::kMessageFlags);
  return flags == nullptr || (static_cast<std::uint32_t>(flags->AsInt32()) & kMessageFlagRead) == 0;
}

std::vector<TableRow> HierarchyRows(const std::unordered_map<Nid, FolderState>& folders,
                                    const FolderState& parent) {
  std::vector<TableRow> rows;
  rows.reserve(parent.children.size());
  for (Nid child : parent.children) {
    const FolderState& c = folders.at(child);
    TableRow row{child, {}};
    row.cells.push_back({tags::kDisplayName, PropValue::String(c.name)});
    row.cells.push_back({tags::kContentCount, PropValue::Int32(c.content_count)});
    row.cells.push_back({tags::kContentUnreadCount, PropValue::Int32(c.unread_count)});
    row.cells.push_back({tags::kSubfolders, PropValue::Boolean(!c.children.empty())});
    if (c.container_class) {
      row.cells.push_back({tags::kContainerClass, PropValue::String(*c.container_class)});
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

PstStore::PstStore(std::unique_ptr<NodeDatabase> db, bool writable)
    : db_(std::move(db)), writable_(writable) {}

PstStore::~PstStore() = default;

std::unique_ptr<PstStore> PstStore::Open(const std::filesystem::path& path, bool writable) {
  std::unique_ptr<PstStore> store(new PstStore(NodeDatabase::Open(path, writable), writable));
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

const FolderState& PstStore::StateOf(Nid nid) const {
  RequireOpen();
  const auto it = folders_.find(nid);
  if (it == folders_.end()) throw FolderError("no folder with NID " + Hex(nid) + " in the store");
  return it->second;
}

FolderState& PstStore::MutableState(Nid nid) { return const_cast<FolderState&>(StateOf(nid)); }

Folder PstStore::GetFolder(Nid nid) {
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

std::vector<std::uint8_t> PstStore::EntryIdOf(Nid nid) const { return MakeEntryId(record_key_, nid); }

Folder PstStore::AddFolder(Nid parent_nid, std::string_view name, std::string_view container_class) {
  RequireWritable();
  const FolderState& parent = StateOf(parent_nid);
  if (NidTypeOf(parent_nid) != NidType::kNormalFolder) {
    throw FolderError("cannot add folder \"" + std::string(name) + "\": \"" + parent.name +
                      "\" is a search folder");
  }
  if (name.empty()) throw FolderError("cannot add a folder with an empty name under \"" + parent.name + "\"");
  for (Nid child : parent.children) {
    if (FolderNamesCollide(folders_.at(child).name, name)) {
      throw FolderError("cannot add folder \"" + std::string(name) + "\" under \"" + parent.name +
                        "\": a folder named \"" + folders_.at(child).name + "\" is already there");
    }
  }
  const Nid nid = AllocateFolderNid();
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

Nid PstStore::AllocateFolderNid() {
  // A folder's three tables share its index; the header's counters for the table types
  // must cover that index too, so they are drawn up with the folder's.
  const Nid nid = db_->AllocateNid(NidType::kNormalFolder);
  for (NidType t : {NidType::kHierarchyTable, NidType::kContentsTable, NidType::kAssocContentsTable}) {
    while (NidIndexOf(db_->AllocateNid(t)) < NidIndexOf(nid)) {
    }
  }
  return nid;
}

void PstStore::LoadContents(FolderState& folder) {
  if (folder.contents_loaded) return;
  const auto node = db_->FindNode(WithType(folder.nid, NidType::kContentsTable));
  if (node) {
    TableData table = ReadTable(*db_, *node);
    folder.contents_rows.clear();
    folder.contents_rows.reserve(table.rows.size());
    for (const TableRow& row : table.rows) folder.contents_rows.emplace_back(row.row_id, row.cells);
  }
  folder.contents_index.clear();
  for (std::size_t i = 0; i < folder.contents_rows.size(); ++i) {
    folder.contents_index[folder.contents_rows[i].row_id()] = i;
  }
  folder.contents_loaded = true;
}

void PstStore::PutContentsRow(Nid folder_nid, Nid message, std::vector<TaggedValue> cells) {
  RequireWritable();
  FolderState& folder = MutableState(folder_nid);
  LoadContents(folder);
  const auto columns = templates::ContentsColumns();
  std::erase_if(cells, [&](const TaggedValue& v) {
    return std::find(columns.begin(), columns.end(), v.tag) == columns.end() ||
           v.tag == tags::kLtpRowId || v.tag == tags::kLtpRowVer;
  });
  const bool unread = IsUnread(cells);
  const auto it = folder.contents_index.find(message);
  if (it == folder.contents_index.end()) {
    folder.contents_index[message] = folder.contents_rows.size();
    folder.contents_rows.emplace_back(message, cells);
    folder.content_count += 1;
    folder.unread_count += unread ? 1 : 0;
  } else {
    PackedRow& row = folder.contents_rows[it->second];
    folder.unread_count += (unread ? 1 : 0) - (IsUnread(row.Unpack()) ? 1 : 0);
    row = PackedRow(message, cells);
  }
  folder.contents_dirty = folder.props_dirty = true;
  if (folder.parent != folder.nid) MutableState(folder.parent).hierarchy_dirty = true;
}

void PstStore::RemoveContentsRow(Nid folder_nid, Nid message) {
  RequireWritable();
  FolderState& folder = MutableState(folder_nid);
  LoadContents(folder);
  const auto it = folder.contents_index.find(message);
  if (it == folder.contents_index.end()) {
    throw FolderError("message " + Hex(message) + " is not in folder \"" + folder.name + "\"");
  }
  const std::size_t at = it->second;
  folder.unread_count -= IsUnread(folder.contents_rows[at].Unpack()) ? 1 : 0;
  folder.content_count -= 1;
  // Keep the row order: move the last row into the gap.
  folder.contents_index.erase(it);
  if (at + 1 != folder.contents_rows.size()) {
    folder.contents_rows[at] = std::move(folder.contents_rows.back());
    folder.contents_index[folder.contents_rows[at].row_id()] = at;
  }
  folder.contents_rows.pop_back();
  folder.contents_dirty = folder.props_dirty = true;
  if (folder.parent != folder.nid) MutableState(folder.parent).hierarchy_dirty = true;
}

void PstStore::WriteFolder(FolderState& f) {
  NodeDatabase& db = *db_;
  const bool search = NidTypeOf(f.nid) == NidType::kSearchFolder;
  if (f.props_dirty) {
    SetValue(f.props, tags::kDisplayName, PropValue::String(f.name));
    SetValue(f.props, tags::kContentCount, PropValue::Int32(f.content_count));
    SetValue(f.props, tags::kContentUnreadCount, PropValue::Int32(f.unread_count));
    SetValue(f.props, tags::kSubfolders, PropValue::Boolean(!f.children.empty()));
    if (f.container_class) SetValue(f.props, tags::kContainerClass, PropValue::String(*f.container_class));
    const NodeContent pc = WriteProperties(db, f.props);
    db.PutNode(NodeEntry{f.nid, pc.data, pc.subnodes, f.parent});
  }
  if (search) {  // a search folder's tables are kept by the search machinery, not here
    f.props_dirty = f.hierarchy_dirty = f.contents_dirty = false;
    return;
  }
  auto put_table = [&](NidType type, Bid empty, std::span<const PropTag> columns,
                       std::size_t row_count, const std::function<TableRowView(std::size_t)>& row_at) {
    const Nid nid = WithType(f.nid, type);
    if (row_count == 0) {
      const auto existing = db.FindNode(nid);
      if (existing && existing->data == empty && existing->subnodes == 0) return;
      db.AddRef(empty);  // an empty table shares the template's block, as Outlook does
      db.PutNode(NodeEntry{nid, empty, 0, 0});
    } else {
      const NodeContent c = WriteTable(db, columns, row_count, row_at);
      db.PutNode(NodeEntry{nid, c.data, c.subnodes, 0});
    }
  };
  if (f.hierarchy_dirty) {
    const std::vector<TableRow> rows = HierarchyRows(folders_, f);
    put_table(NidType::kHierarchyTable, empty_hierarchy_, templates::HierarchyColumns(),
              rows.size(), [&](std::size_t i) { return TableRowView{rows[i].row_id, rows[i].cells}; });
  }
  if (f.contents_dirty) {
    // Rows are unpacked one at a time as the table is written.
    std::vector<TaggedValue> cells;
    put_table(NidType::kContentsTable, empty_contents_, templates::ContentsColumns(),
              f.contents_rows.size(), [&](std::size_t i) {
                f.contents_rows[i].UnpackInto(cells);
                return TableRowView{f.contents_rows[i].row_id(), cells};
              });
  }
  if (!db.FindNode(WithType(f.nid, NidType::kAssocContentsTable))) {
    put_table(NidType::kAssocContentsTable, empty_assoc_, templates::AssocContentsColumns(), 0, {});
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
  for (auto& [nid, folder] : folders_) {
    if (folder.props_dirty || folder.hierarchy_dirty || folder.contents_dirty) WriteFolder(folder);
  }
  db_->Commit();
}

std::uint64_t PstStore::SizeWith(std::uint64_t more) const {
  // The next commit rebuilds the changed folders' tables whole in new space before the old
  // copies are freed; a row takes less than 512 bytes with its strings.
  constexpr std::uint64_t kRow = 512;
  constexpr std::uint64_t kTable = 8192;
  std::uint64_t pending = 64 << 10;  // B-tree pages
  for (const auto& [nid, folder] : folders_) {
    if (folder.contents_dirty) pending += kTable + folder.contents_rows.size() * kRow;
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
  const auto store_node = db_->FindNode(kNidMessageStore);
  if (!store_node) throw FormatError("the PST has no message store object (NID 0x21)");
  const auto props = ReadProperties(*db_, *store_node);
  const PropValue* key = FindValue(props, tags::kRecordKey);
  if (key == nullptr || key->bytes().size() != record_key_.size()) {
    throw FormatError("the message store has no 16-byte record key (PidTagRecordKey)");
  }
  std::copy(key->bytes().begin(), key->bytes().end(), record_key_.begin());
  if (const PropValue* name = FindValue(props, tags::kDisplayName)) display_name_ = name->AsString();
  auto nid_of = [&](PropTag tag) -> std::optional<Nid> {
    const PropValue* v = FindValue(props, tag);
    if (v == nullptr) return std::nullopt;
    return NidFromEntryId(v->bytes(), record_key_);
  };
  const auto subtree = nid_of(tags::kIpmSubtreeEntryId);
  const auto finder = nid_of(tags::kFinderEntryId);
  if (!subtree) throw FormatError("the message store has no valid IPM subtree entry ID");
  ipm_subtree_ = *subtree;
  search_root_ = finder.value_or(0);
  if (auto n = nid_of(tags::kIpmOutboxEntryId)) default_folders_[DefaultFolder::kOutbox] = *n;
  if (auto n = nid_of(tags::kIpmWastebasketEntryId)) default_folders_[DefaultFolder::kDeletedItems] = *n;
  if (auto n = nid_of(tags::kIpmSentMailEntryId)) default_folders_[DefaultFolder::kSentMail] = *n;

  if (const auto receive = db_->FindNode(kNidReceiveFolderTable)) {
    for (const TableRow& row : ReadTable(*db_, *receive).rows) {
      const PropValue* cls = FindValue(row.cells, tags::kMessageClass);
      const PropValue* nid = FindValue(row.cells, tags::kPstReceiveFolderNid);
      if (cls && nid && (cls->AsString().empty() || cls->AsString() == "IPM")) {
        default_folders_[DefaultFolder::kInbox] = static_cast<Nid>(nid->AsInt32());
      }
    }
  }
  for (auto t : {kNidHierarchyTableTemplate, kNidContentsTableTemplate, kNidAssocContentsTableTemplate}) {
    if (!db_->FindNode(t)) throw FormatError("the PST has no table template " + Hex(t));
  }
  empty_hierarchy_ = db_->FindNode(kNidHierarchyTableTemplate)->data;
  empty_contents_ = db_->FindNode(kNidContentsTableTemplate)->data;
  empty_assoc_ = db_->FindNode(kNidAssocContentsTableTemplate)->data;
}

void PstStore::LoadFolders() {
  std::vector<NodeEntry> folder_nodes;
  db_->ForEachNode([&](const NodeEntry& e) {
    const NidType t = NidTypeOf(e.nid);
    if (t == NidType::kNormalFolder || t == NidType::kSearchFolder) folder_nodes.push_back(e);
  });
  for (const NodeEntry& e : folder_nodes) {
    FolderState& f = folders_[e.nid];
    f.nid = e.nid;
    f.parent = e.parent;
    f.props = ReadProperties(*db_, e);
    if (const PropValue* v = FindValue(f.props, tags::kDisplayName)) f.name = v->AsString();
    if (const PropValue* v = FindValue(f.props, tags::kContainerClass)) f.container_class = v->AsString();
    if (const PropValue* v = FindValue(f.props, tags::kContentCount)) f.content_count = v->AsInt32();
    if (const PropValue* v = FindValue(f.props, tags::kContentUnreadCount)) f.unread_count = v->AsInt32();
  }
  // Children in the order of each parent's hierarchy table.
  for (auto& [nid, f] : folders_) {
    if (NidTypeOf(nid) != NidType::kNormalFolder) continue;
    const auto node = db_->FindNode(WithType(nid, NidType::kHierarchyTable));
    if (!node) throw FormatError("folder " + Hex(nid) + " has no hierarchy table");
    for (const TableRow& row : ReadTable(*db_, *node).rows) {
      const auto child = folders_.find(row.row_id);
      if (child == folders_.end() || child->second.parent != nid) {
        throw FormatError("the hierarchy table of folder " + Hex(nid) + " lists " + Hex(row.row_id) +
                          ", which is not a sub-folder of it");
      }
      f.children.push_back(row.row_id);
    }
  }
  if (!folders_.contains(kNidRootFolder) || !folders_.contains(ipm_subtree_)) {
    throw FormatError("the PST lacks its root folder or the top of its folder tree");
  }
  // Default folders Outlook finds through the root folder's entry IDs.
  const auto& root_props = folders_.at(kNidRootFolder).props;
  const std::pair<PropTag, DefaultFolder> by_root[] = {
      {tags::kIpmAppointmentEntryId, DefaultFolder::kCalendar},
      {tags::kIpmContactEntryId, DefaultFolder::kContacts},
      {tags::kIpmJournalEntryId, DefaultFolder::kJournal},
      {tags::kIpmNoteEntryId, DefaultFolder::kNotes},
      {tags::kIpmTaskEntryId, DefaultFolder::kTasks},
      {tags::kIpmDraftsEntryId, DefaultFolder::kDrafts}};
  for (const auto& [tag, kind] : by_root) {
    if (const PropValue* v = FindValue(root_props, tag)) {
      if (auto n = NidFromEntryId(v->bytes(), record_key_)) default_folders_[kind] = *n;
    }
  }
  if (const PropValue* v = FindValue(root_props, tags::kAdditionalRenEntryIds)) {
    const auto ids = v->AsMvBinary();
    if (ids.size() > tags::kRenJunkIndex) {
      if (auto n = NidFromEntryId(ids[tags::kRenJunkIndex], record_key_)) {
        default_folders_[DefaultFolder::kJunk] = *n;
      }
    }
  }
}

}  // namespace mailvane::pst
