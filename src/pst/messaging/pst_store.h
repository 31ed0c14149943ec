// A Unicode PST message store written by our own engine: the message store object, the
// mandatory nodes of MS-PST 2.7, the folder tree below the root folder and the standard
// folders of a new Outlook data file, each marked the way Outlook finds it.
//
// Folder properties and hierarchy tables live in memory and are written at Commit() only
// for the folders that changed, so adding many folders costs one table rewrite per folder
// per commit, not one per change. A contents table grows in place: a commit writes the
// rows added since the last one and the trees over the blocks written before. A table of
// a folder that gained nothing since the last commit is dropped from memory when it is
// small enough to read back cheaply, so that memory does not grow with the folder count.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pst/ltp/property_value.h"
#include "pst/messaging/default_folder.h"
#include "pst/messaging/folder.h"
#include "pst/messaging/folder_state.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst::messaging {

class NameToIdMap;

// A request on the folder tree that cannot be met (a duplicate name, a missing folder).
class FolderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PstStore {
 public:
  // Writes a new store with every mandatory node and the standard folders, committed
  // before it returns, under path or, when that is taken, the first free "stem (n).pst".
  static std::unique_ptr<PstStore> Create(const std::filesystem::path& path,
                                          std::string_view display_name);
  // Opens a store written by this engine (or any store with the same mandatory objects).
  static std::unique_ptr<PstStore> Open(const std::filesystem::path& path, bool writable = true);

  ~PstStore();
  PstStore(const PstStore&) = delete;
  PstStore& operator=(const PstStore&) = delete;

  const std::string& display_name() const { return display_name_; }
  // The file's name: for a new store, path or the free "path (n)" that Create took.
  const std::filesystem::path& path() const { return path_; }
  const ltp::Guid& record_key() const { return record_key_; }

  Folder RootFolder() { return Folder(*this, ndb::kNidRootFolder); }
  Folder IpmSubtree() { return Folder(*this, ipm_subtree_); }
  Folder SearchRoot() { return Folder(*this, search_root_); }
  Folder GetDefaultFolder(DefaultFolder kind);
  // A folder by its "\"-separated path below the top of the folder tree ("" is the top).
  std::optional<Folder> FindFolder(std::string_view path);
  Folder GetFolder(ndb::Nid nid);
  std::vector<std::uint8_t> EntryIdOf(ndb::Nid nid) const;

  // Writes the changed folders and tables, then commits the node database.
  void Commit();
  // Commits and closes; the store cannot be used afterwards. The destructor of a store
  // that was not closed does not commit (a failure there would have nowhere to go).
  void Close();
  // Why the file refused a write, or "": after a refusal it holds its last commit only.
  std::string WriteFailure() const { return db_->WriteFailure(); }

  // --- for the message layer ---
  ndb::NodeDatabase& db() { return *db_; }
  // The file's size once `more` bytes more are written and committed; 0 where unknown.
  std::uint64_t SizeWith(std::uint64_t more) const;
  // Adds or replaces the contents-table row of a message in a folder. cells are the
  // message's values for the contents-table columns (others are ignored).
  void PutContentsRow(ndb::Nid folder, ndb::Nid message, std::vector<ltp::TaggedValue> cells);
  // The store's named-property map, read on first use and written at Commit() when it
  // changed.
  NameToIdMap& name_to_id_map();
  // How many folders' contents tables are held in memory (for tests).
  std::size_t ContentsTablesHeld() const;

  // --- used by Folder ---
  const FolderState& StateOf(ndb::Nid nid) const;
  Folder AddFolder(ndb::Nid parent, std::string_view name, std::string_view container_class);

 private:
  PstStore(std::unique_ptr<ndb::NodeDatabase> db, bool writable);
  FolderState& MutableState(ndb::Nid nid);
  FolderState& NewFolderState(ndb::Nid nid, ndb::Nid parent, std::string_view name,
                              std::optional<std::string_view> container_class);
  void BuildNewStore(std::string_view display_name);
  void WriteFixedNodes();
  void WriteStoreObject();
  void WriteReceiveFolderTable();
  void WriteSpamSearchFolder();
  void MarkDefaultFolders();
  void LoadStore();
  void LoadFolders();
  void LoadContents(FolderState& folder);
  void WriteFolder(FolderState& folder);
  ndb::Nid AllocateFolderNid();
  void RequireWritable() const;
  void RequireOpen() const;

  std::unique_ptr<ndb::NodeDatabase> db_;
  bool writable_ = true;
  bool closed_ = false;
  std::string display_name_;
  std::filesystem::path path_;
  ltp::Guid record_key_{};
  ndb::Nid ipm_subtree_ = 0;
  ndb::Nid search_root_ = 0;
  std::map<DefaultFolder, ndb::Nid> default_folders_;
  std::unordered_map<ndb::Nid, FolderState> folders_;
  ndb::Bid empty_hierarchy_ = 0;  // template blocks shared by every empty table
  ndb::Bid empty_contents_ = 0;
  ndb::Bid empty_assoc_ = 0;
  std::unique_ptr<NameToIdMap> name_map_;
};

}  // namespace mailvane::pst::messaging
