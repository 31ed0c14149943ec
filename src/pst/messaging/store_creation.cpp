// Creation of a new store: the fixed internal nodes, the message store object, the folders
// every PST must hold (MS-PST 2.7) and the standard folders of a new Outlook data file.
#include <random>

#include "base/little_endian.h"
#include "pst/messaging/named_property.h"
#include "pst/ndb/crc32.h"
#include "pst/ndb/file_io.h"
#include "pst/messaging/entry_id.h"
#include "pst/messaging/property_tags.h"
#include "pst/messaging/pst_store.h"
#include "pst/messaging/table_templates.h"

namespace mailvane::pst::messaging {

namespace {

// The spam search folder keeps the NID Outlook gives it; its update queue, criteria object
// and search contents table share its index.
constexpr std::uint32_t kSpamSearchIndex = 0x111;
constexpr ndb::Nid kNidSpamSearchFolder = ndb::MakeNid(ndb::NidType::kSearchFolder, kSpamSearchIndex);
constexpr ndb::Nid kNidReceiveFolderTable = 0x62B;
constexpr ndb::Nid kNidOutgoingQueueTable = 0x64C;
constexpr ndb::Nid kNidAttachmentTableTemplate = 0x671;
constexpr ndb::Nid kNidRecipientTableTemplate = 0x692;
constexpr ndb::Nid kNid6B6 = 0x6B6;
constexpr ndb::Nid kNid6D7 = 0x6D7;
constexpr ndb::Nid kNid6F8 = 0x6F8;

ltp::Guid RandomGuid() {
  std::random_device rd;
  ltp::Guid g{};
  for (auto& b : g) b = static_cast<std::uint8_t>(rd());
  g[7] = static_cast<std::uint8_t>((g[7] & 0x0F) | 0x40);  // version 4, stored little-endian
  g[8] = static_cast<std::uint8_t>((g[8] & 0x3F) | 0x80);
  return g;
}

void PutTable(ndb::NodeDatabase& db, ndb::Nid nid, std::span<const ltp::PropTag> columns,
              std::span<const TableRow> rows = {}, ltp::EmptyCells empty = ltp::EmptyCells::kAbsent) {
  const NodeContent c = WriteTable(db, columns, rows, empty);
  db.PutNode(ndb::NodeEntry{nid, c.data, c.subnodes, 0});
}

std::vector<std::uint8_t> NidBytes(ndb::Nid nid) {
  return {static_cast<std::uint8_t>(nid), static_cast<std::uint8_t>(nid >> 8),
          static_cast<std::uint8_t>(nid >> 16), static_cast<std::uint8_t>(nid >> 24)};
}

}  // namespace

std::unique_ptr<PstStore> PstStore::Create(const std::filesystem::path& path,
                                           std::string_view display_name) {
  // The file gets its name only once it holds a whole store: a process killed before
  // that leaves no half-made file behind. A name already taken is never written over.
  ndb::UnnamedFile file = ndb::CreateUnnamedPosixFile(path);
  std::unique_ptr<PstStore> store(new PstStore(ndb::NodeDatabase::Create(std::move(file.file)), true));
  store->BuildNewStore(display_name);
  store->Commit();
  store->path_ = file.publish();
  return store;
}

void PstStore::BuildNewStore(std::string_view display_name) {
  display_name_ = std::string(display_name);
  record_key_ = RandomGuid();
  WriteFixedNodes();

  FolderState& root = NewFolderState(ndb::kNidRootFolder, ndb::kNidRootFolder, "", std::nullopt);
  ipm_subtree_ = AllocateFolderNid();
  search_root_ = AllocateFolderNid();
  NewFolderState(ipm_subtree_, ndb::kNidRootFolder, "Top of Personal Folders", std::nullopt);
  NewFolderState(search_root_, ndb::kNidRootFolder, "Search Root", std::nullopt);
  NewFolderState(kNidSpamSearchFolder, ndb::kNidRootFolder, "SPAM Search Folder 2", std::nullopt);
  root.children = {ipm_subtree_, search_root_, kNidSpamSearchFolder};
  WriteSpamSearchFolder();

  FolderState& ipm = MutableState(ipm_subtree_);
  for (const auto& info : DefaultFolders()) {
    const ndb::Nid nid = AllocateFolderNid();
    NewFolderState(nid, ipm_subtree_, info.name, info.container_class);
    ipm.children.push_back(nid);
    default_folders_[info.kind] = nid;
  }
  MarkDefaultFolders();
  WriteStoreObject();
  WriteReceiveFolderTable();
}

void PstStore::WriteFixedNodes() {
  ndb::NodeDatabase& db = *db_;
  PutTable(db, ndb::kNidHierarchyTableTemplate, HierarchyColumns());
  PutTable(db, ndb::kNidContentsTableTemplate, ContentsColumns());
  PutTable(db, ndb::kNidAssocContentsTableTemplate, AssocContentsColumns());
  PutTable(db, ndb::kNidSearchContentsTableTemplate, SearchContentsColumns());
  PutTable(db, kNidAttachmentTableTemplate, AttachmentColumns());
  PutTable(db, kNidRecipientTableTemplate, RecipientColumns());
  PutTable(db, kNidOutgoingQueueTable, OutgoingQueueColumns());
  PutTable(db, kNid6B6, Internal6B6Columns());
  PutTable(db, kNid6D7, Internal6D7Columns());
  PutTable(db, kNid6F8, Internal6F8Columns());
  empty_hierarchy_ = db.FindNode(ndb::kNidHierarchyTableTemplate)->data;
  empty_contents_ = db.FindNode(ndb::kNidContentsTableTemplate)->data;
  empty_assoc_ = db.FindNode(ndb::kNidAssocContentsTableTemplate)->data;

  // The name-to-ID map (MS-PST 2.4.7) starts with one name, PS_PUBLIC_STRINGS "Keywords"
  // (categories) as id 0x8000, and PSETID_Common in its GUID stream: libpff refuses a map
  // whose entry or GUID stream is empty. The named property layer adds names behind them.
  const ltp::Guid common = PsetidCommon();
  const std::u16string keywords = u"Keywords";
  std::vector<std::uint8_t> name_bytes;
  for (char16_t c : keywords) {
    name_bytes.push_back(static_cast<std::uint8_t>(c));
    name_bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  std::vector<std::uint8_t> strings;
  base::Append32(strings, static_cast<std::uint32_t>(name_bytes.size()));
  strings.insert(strings.end(), name_bytes.begin(), name_bytes.end());
  constexpr std::uint16_t kPublicStringsName = (2 << 1) | 1;  // wGuid 2, N = string
  std::vector<std::uint8_t> entry;
  base::Append32(entry, 0);  // offset of the name in the string stream
  base::Append16(entry, kPublicStringsName);
  base::Append16(entry, 0);  // property index 0: id 0x8000
  const std::uint32_t hash = ndb::Crc32(name_bytes);
  std::vector<std::uint8_t> bucket;
  base::Append32(bucket, hash);
  base::Append16(bucket, kPublicStringsName);
  base::Append16(bucket, 0);
  const auto bucket_tag = static_cast<ltp::PropTag>(((0x1000 + ((kPublicStringsName ^ hash) % 251)) << 16) | 0x0102);
  const std::vector<ltp::TaggedValue> name_map{
      {kPrNameidBucketCount, ltp::PropValue::Int32(251)},
      {0x00020102, ltp::PropValue::Binary({common.begin(), common.end()})},
      {0x00030102, ltp::PropValue::Binary(entry)},
      {0x00040102, ltp::PropValue::Binary(strings)},
      {bucket_tag, ltp::PropValue::Binary(bucket)}};
  const NodeContent map = WriteProperties(db, name_map);
  db.PutNode(ndb::NodeEntry{ndb::kNidNameToIdMap, map.data, map.subnodes, 0});

  // Search bookkeeping: empty queues; the activity list names the one search folder.
  for (ndb::Nid nid : {ndb::kNidSearchManagementQueue, ndb::kNidSearchDomainObject, ndb::kNidSearchGathererQueue,
                  ndb::kNidSearchGathererFolderQueue}) {
    db.PutNode(ndb::NodeEntry{nid, 0, 0, 0});
  }
  const auto activity = NidBytes(kNidSpamSearchFolder);
  db.PutNode(ndb::NodeEntry{ndb::kNidSearchActivityList, db.WriteData(activity), 0, 0});
}

void PstStore::WriteSpamSearchFolder() {
  ndb::NodeDatabase& db = *db_;
  db.PutNode(ndb::NodeEntry{ndb::MakeNid(ndb::NidType::kSearchUpdateQueue, kSpamSearchIndex), 0, 0, 0});
  const std::vector<ltp::TaggedValue> criteria{{kPrSearchCriteriaFlags, ltp::PropValue::Int32(0)}};
  const NodeContent c = WriteProperties(db, criteria);
  db.PutNode(ndb::NodeEntry{ndb::MakeNid(ndb::NidType::kSearchCriteriaObject, kSpamSearchIndex), c.data,
                       c.subnodes, 0});
  PutTable(db, ndb::MakeNid(ndb::NidType::kSearchContentsTable, kSpamSearchIndex),
           SearchContentsColumns());
}

void PstStore::MarkDefaultFolders() {
  auto eid = [&](DefaultFolder kind) {
    return ltp::PropValue::Binary(MakeEntryId(record_key_, default_folders_.at(kind)));
  };
  // Outlook reads these from the inbox first and then from the root folder: write both.
  std::vector<std::vector<std::uint8_t>> ren(kRenJunkIndex + 1);
  ren[kRenJunkIndex] = MakeEntryId(record_key_, default_folders_.at(DefaultFolder::kJunk));
  for (ndb::Nid nid : {ndb::kNidRootFolder, default_folders_.at(DefaultFolder::kInbox)}) {
    auto& props = MutableState(nid).props;
    SetValue(props, kPrIpmAppointmentEntryId, eid(DefaultFolder::kCalendar));
    SetValue(props, kPrIpmContactEntryId, eid(DefaultFolder::kContacts));
    SetValue(props, kPrIpmJournalEntryId, eid(DefaultFolder::kJournal));
    SetValue(props, kPrIpmNoteEntryId, eid(DefaultFolder::kNotes));
    SetValue(props, kPrIpmTaskEntryId, eid(DefaultFolder::kTasks));
    SetValue(props, kPrIpmDraftsEntryId, eid(DefaultFolder::kDrafts));
    SetValue(props, kPrAdditionalRenEntryIds, ltp::PropValue::MvBinary(ren));
  }
}

void PstStore::WriteStoreObject() {
  auto eid = [&](ndb::Nid nid) { return ltp::PropValue::Binary(MakeEntryId(record_key_, nid)); };
  const std::vector<ltp::TaggedValue> props{
      {kPrRecordKey, ltp::PropValue::Binary({record_key_.begin(), record_key_.end()})},
      {kPrDisplayName, ltp::PropValue::String(display_name_)},
      {kPrValidFolderMask,
       ltp::PropValue::Int32(kMaskSubtree | kMaskInbox | kMaskOutbox |
                        kMaskWastebasket | kMaskSentMail | kMaskFinder)},
      {kPrIpmSubtreeEntryId, eid(ipm_subtree_)},
      {kPrIpmOutboxEntryId, eid(default_folders_.at(DefaultFolder::kOutbox))},
      {kPrIpmWastebasketEntryId, eid(default_folders_.at(DefaultFolder::kDeletedItems))},
      {kPrIpmSentMailEntryId, eid(default_folders_.at(DefaultFolder::kSentMail))},
      {kPrFinderEntryId, eid(search_root_)},
      {kPrPstLrNoRestrictions, ltp::PropValue::Boolean(true)},
  };
  const NodeContent c = WriteProperties(*db_, props);
  db_->PutNode(ndb::NodeEntry{ndb::kNidMessageStore, c.data, c.subnodes, 0});
}

void PstStore::WriteReceiveFolderTable() {
  // Message classes "" (everything), "IPM" and "REPORT.IPM" are received in the inbox.
  const ndb::Nid inbox = default_folders_.at(DefaultFolder::kInbox);
  std::vector<TableRow> rows;
  std::uint32_t id = 1;
  for (const char* cls : {"", "IPM", "REPORT.IPM"}) {
    rows.push_back(TableRow{id++,
                            {{kPrMessageClass, ltp::PropValue::String(cls)},
                             {kPrPstReceiveFolderNid, ltp::PropValue::Int32(static_cast<std::int32_t>(inbox))}}});
  }
  // As in Outlook's files, the default entry's empty class is a present cell.
  PutTable(*db_, kNidReceiveFolderTable, ReceiveFolderColumns(), rows,
           ltp::EmptyCells::kPresentWithoutValue);
}

FolderState& PstStore::NewFolderState(ndb::Nid nid, ndb::Nid parent, std::string_view name,
                                      std::optional<std::string_view> container_class) {
  FolderState& f = folders_[nid];
  f.nid = nid;
  f.parent = parent;
  f.name = std::string(name);
  if (container_class) f.container_class = std::string(*container_class);
  f.contents = std::make_unique<ltp::TableContextAppender>(ContentsColumns());  // no rows yet
  f.props_dirty = f.hierarchy_dirty = f.contents_dirty = true;
  return f;
}

}  // namespace mailvane::pst::messaging
