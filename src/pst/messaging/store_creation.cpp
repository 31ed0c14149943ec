// Creation of a new store: the fixed internal nodes, the message store object, the folders
// every PST must hold (MS-PST 2.7) and the standard folders of a new Outlook data file.
#include <random>

#include "pst/ltp/le_bytes.h"
#include "pst/named_property.h"
#include "pst/ndb/crc32.h"
#include "pst/ndb/file_io.h"
#include "pst/messaging/entry_id.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/pst_store.h"
#include "pst/messaging/table_templates.h"

namespace mailvane::pst {

namespace {

// The spam search folder keeps the NID Outlook gives it; its update queue, criteria object
// and search contents table share its index.
constexpr std::uint32_t kSpamSearchIndex = 0x111;
constexpr Nid kNidSpamSearchFolder = MakeNid(NidType::kSearchFolder, kSpamSearchIndex);
constexpr Nid kNidReceiveFolderTable = 0x62B;
constexpr Nid kNidOutgoingQueueTable = 0x64C;
constexpr Nid kNidAttachmentTableTemplate = 0x671;
constexpr Nid kNidRecipientTableTemplate = 0x692;
constexpr Nid kNid6B6 = 0x6B6;
constexpr Nid kNid6D7 = 0x6D7;
constexpr Nid kNid6F8 = 0x6F8;

Guid RandomGuid() {
  std::random_device rd;
  Guid g{};
  for (auto& b : g) b = static_cast<std::uint8_t>(rd());
  g[7] = static_cast<std::uint8_t>((g[7] & 0x0F) | 0x40);  // version 4, stored little-endian
  g[8] = static_cast<std::uint8_t>((g[8] & 0x3F) | 0x80);
  return g;
}

void PutTable(NodeDatabase& db, Nid nid, std::span<const PropTag> columns,
              std::span<const TableRow> rows = {}, EmptyCells empty = EmptyCells::kAbsent) {
  const NodeContent c = WriteTable(db, columns, rows, empty);
  db.PutNode(NodeEntry{nid, c.data, c.subnodes, 0});
}

std::vector<std::uint8_t> NidBytes(Nid nid) {
  return {static_cast<std::uint8_t>(nid), static_cast<std::uint8_t>(nid >> 8),
          static_cast<std::uint8_t>(nid >> 16), static_cast<std::uint8_t>(nid >> 24)};
}

}  // namespace

std::unique_ptr<PstStore> PstStore::Create(const std::filesystem::path& path,
                                           std::string_view display_name) {
  // The file gets its name only once it holds a whole store: a process killed before
  // that leaves no half-made file behind. A name already taken is never written over.
  UnnamedFile file = CreateUnnamedPosixFile(path);
  std::unique_ptr<PstStore> store(new PstStore(NodeDatabase::Create(std::move(file.file)), true));
  store->BuildNewStore(display_name);
  store->Commit();
  store->path_ = file.publish();
  return store;
}

void PstStore::BuildNewStore(std::string_view display_name) {
  display_name_ = std::string(display_name);
  record_key_ = RandomGuid();
  WriteFixedNodes();

  FolderState& root = NewFolderState(kNidRootFolder, kNidRootFolder, "", std::nullopt);
  ipm_subtree_ = AllocateFolderNid();
  search_root_ = AllocateFolderNid();
  NewFolderState(ipm_subtree_, kNidRootFolder, "Top of Personal Folders", std::nullopt);
  NewFolderState(search_root_, kNidRootFolder, "Search Root", std::nullopt);
  NewFolderState(kNidSpamSearchFolder, kNidRootFolder, "SPAM Search Folder 2", std::nullopt);
  root.children = {ipm_subtree_, search_root_, kNidSpamSearchFolder};
  WriteSpamSearchFolder();

  FolderState& ipm = MutableState(ipm_subtree_);
  for (const auto& info : DefaultFolders()) {
    const Nid nid = AllocateFolderNid();
    NewFolderState(nid, ipm_subtree_, info.name, info.container_class);
    ipm.children.push_back(nid);
    default_folders_[info.kind] = nid;
  }
  MarkDefaultFolders();
  WriteStoreObject();
  WriteReceiveFolderTable();
}

void PstStore::WriteFixedNodes() {
  NodeDatabase& db = *db_;
  PutTable(db, kNidHierarchyTableTemplate, templates::HierarchyColumns());
  PutTable(db, kNidContentsTableTemplate, templates::ContentsColumns());
  PutTable(db, kNidAssocContentsTableTemplate, templates::AssocContentsColumns());
  PutTable(db, kNidSearchContentsTableTemplate, templates::SearchContentsColumns());
  PutTable(db, kNidAttachmentTableTemplate, templates::AttachmentColumns());
  PutTable(db, kNidRecipientTableTemplate, templates::RecipientColumns());
  PutTable(db, kNidOutgoingQueueTable, templates::OutgoingQueueColumns());
  PutTable(db, kNid6B6, templates::Internal6B6Columns());
  PutTable(db, kNid6D7, templates::Internal6D7Columns());
  PutTable(db, kNid6F8, templates::Internal6F8Columns());
  empty_hierarchy_ = db.FindNode(kNidHierarchyTableTemplate)->data;
  empty_contents_ = db.FindNode(kNidContentsTableTemplate)->data;
  empty_assoc_ = db.FindNode(kNidAssocContentsTableTemplate)->data;

  // The name-to-ID map (MS-PST 2.4.7) starts with one name, PS_PUBLIC_STRINGS "Keywords"
  // (categories) as id 0x8000, and PSETID_Common in its GUID stream: libpff refuses a map
  // whose entry or GUID stream is empty. The named property layer adds names behind them.
  const Guid common = PsetidCommon();
  const std::u16string keywords = u"Keywords";
  std::vector<std::uint8_t> name_bytes;
  for (char16_t c : keywords) {
    name_bytes.push_back(static_cast<std::uint8_t>(c));
    name_bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  std::vector<std::uint8_t> strings;
  AppendLe32(strings, static_cast<std::uint32_t>(name_bytes.size()));
  strings.insert(strings.end(), name_bytes.begin(), name_bytes.end());
  constexpr std::uint16_t kPublicStringsName = (2 << 1) | 1;  // wGuid 2, N = string
  std::vector<std::uint8_t> entry;
  AppendLe32(entry, 0);  // offset of the name in the string stream
  AppendLe16(entry, kPublicStringsName);
  AppendLe16(entry, 0);  // property index 0: id 0x8000
  const std::uint32_t hash = Crc32(name_bytes);
  std::vector<std::uint8_t> bucket;
  AppendLe32(bucket, hash);
  AppendLe16(bucket, kPublicStringsName);
  AppendLe16(bucket, 0);
  const auto bucket_tag = static_cast<PropTag>(((0x1000 + ((kPublicStringsName ^ hash) % 251)) << 16) | 0x0102);
  const std::vector<TaggedValue> name_map{
      {tags::kNameidBucketCount, PropValue::Int32(251)},
      {0x00020102, PropValue::Binary({common.begin(), common.end()})},
      {0x00030102, PropValue::Binary(entry)},
      {0x00040102, PropValue::Binary(strings)},
      {bucket_tag, PropValue::Binary(bucket)}};
  const NodeContent map = WriteProperties(db, name_map);
  db.PutNode(NodeEntry{kNidNameToIdMap, map.data, map.subnodes, 0});

  // Search bookkeeping: empty queues; the activity list names the one search folder.
  for (Nid nid : {kNidSearchManagementQueue, kNidSearchDomainObject, kNidSearchGathererQueue,
                  kNidSearchGathererFolderQueue}) {
    db.PutNode(NodeEntry{nid, 0, 0, 0});
  }
  const auto activity = NidBytes(kNidSpamSearchFolder);
  db.PutNode(NodeEntry{kNidSearchActivityList, db.WriteData(activity), 0, 0});
}

void PstStore::WriteSpamSearchFolder() {
  NodeDatabase& db = *db_;
  db.PutNode(NodeEntry{MakeNid(NidType::kSearchUpdateQueue, kSpamSearchIndex), 0, 0, 0});
  const std::vector<TaggedValue> criteria{{tags::kSearchCriteriaFlags, PropValue::Int32(0)}};
  const NodeContent c = WriteProperties(db, criteria);
  db.PutNode(NodeEntry{MakeNid(NidType::kSearchCriteriaObject, kSpamSearchIndex), c.data,
                       c.subnodes, 0});
  PutTable(db, MakeNid(NidType::kSearchContentsTable, kSpamSearchIndex),
           templates::SearchContentsColumns());
}

void PstStore::MarkDefaultFolders() {
  auto eid = [&](DefaultFolder kind) {
    return PropValue::Binary(MakeEntryId(record_key_, default_folders_.at(kind)));
  };
  // Outlook reads these from the inbox first and then from the root folder: write both.
  std::vector<std::vector<std::uint8_t>> ren(tags::kRenJunkIndex + 1);
  ren[tags::kRenJunkIndex] = MakeEntryId(record_key_, default_folders_.at(DefaultFolder::kJunk));
  for (Nid nid : {kNidRootFolder, default_folders_.at(DefaultFolder::kInbox)}) {
    auto& props = MutableState(nid).props;
    SetValue(props, tags::kIpmAppointmentEntryId, eid(DefaultFolder::kCalendar));
    SetValue(props, tags::kIpmContactEntryId, eid(DefaultFolder::kContacts));
    SetValue(props, tags::kIpmJournalEntryId, eid(DefaultFolder::kJournal));
    SetValue(props, tags::kIpmNoteEntryId, eid(DefaultFolder::kNotes));
    SetValue(props, tags::kIpmTaskEntryId, eid(DefaultFolder::kTasks));
    SetValue(props, tags::kIpmDraftsEntryId, eid(DefaultFolder::kDrafts));
    SetValue(props, tags::kAdditionalRenEntryIds, PropValue::MvBinary(ren));
  }
}

void PstStore::WriteStoreObject() {
  auto eid = [&](Nid nid) { return PropValue::Binary(MakeEntryId(record_key_, nid)); };
  const std::vector<TaggedValue> props{
      {tags::kRecordKey, PropValue::Binary({record_key_.begin(), record_key_.end()})},
      {tags::kDisplayName, PropValue::String(display_name_)},
      {tags::kValidFolderMask,
       PropValue::Int32(tags::kMaskSubtree | tags::kMaskInbox | tags::kMaskOutbox |
                        tags::kMaskWastebasket | tags::kMaskSentMail | tags::kMaskFinder)},
      {tags::kIpmSubtreeEntryId, eid(ipm_subtree_)},
      {tags::kIpmOutboxEntryId, eid(default_folders_.at(DefaultFolder::kOutbox))},
      {tags::kIpmWastebasketEntryId, eid(default_folders_.at(DefaultFolder::kDeletedItems))},
      {tags::kIpmSentMailEntryId, eid(default_folders_.at(DefaultFolder::kSentMail))},
      {tags::kFinderEntryId, eid(search_root_)},
      {tags::kPstLrNoRestrictions, PropValue::Boolean(true)},
  };
  const NodeContent c = WriteProperties(*db_, props);
  db_->PutNode(NodeEntry{kNidMessageStore, c.data, c.subnodes, 0});
}

void PstStore::WriteReceiveFolderTable() {
  // Message classes "" (everything), "IPM" and "REPORT.IPM" are received in the inbox.
  const Nid inbox = default_folders_.at(DefaultFolder::kInbox);
  std::vector<TableRow> rows;
  std::uint32_t id = 1;
  for (const char* cls : {"", "IPM", "REPORT.IPM"}) {
    rows.push_back(TableRow{id++,
                            {{tags::kMessageClass, PropValue::String(cls)},
                             {tags::kPstReceiveFolderNid, PropValue::Int32(static_cast<std::int32_t>(inbox))}}});
  }
  // As in Outlook's files, the default entry's empty class is a present cell.
  PutTable(*db_, kNidReceiveFolderTable, templates::ReceiveFolderColumns(), rows,
           EmptyCells::kPresentWithoutValue);
}

FolderState& PstStore::NewFolderState(Nid nid, Nid parent, std::string_view name,
                                      std::optional<std::string_view> container_class) {
  FolderState& f = folders_[nid];
  f.nid = nid;
  f.parent = parent;
  f.name = std::string(name);
  if (container_class) f.container_class = std::string(*container_class);
  f.contents_loaded = true;  // a new folder has no messages yet
  f.props_dirty = f.hierarchy_dirty = f.contents_dirty = true;
  return f;
}

}  // namespace mailvane::pst
