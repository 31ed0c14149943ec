#include "store/pst_session.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "base/hex.h"
#include "pst/messaging/default_folder.h"
#include "store/pst_item.h"

namespace mailvane::store {

namespace {

std::string Hex(const pst::ltp::Guid& g) { return base::HexBytes(g); }

}  // namespace

std::unique_ptr<Session> CreatePstSession() { return std::make_unique<PstSession>(); }

PstSession::PstSession() = default;

// A session dropped without Logoff (the program ending mid-run) leaves its stores as of
// their last commit; committing here could raise with nowhere to report it.
PstSession::~PstSession() = default;

void PstSession::Logon() { logged_on_ = true; }

void PstSession::RequireLoggedOn(const char* operation) const {
  if (!logged_on_) throw StoreError(std::string(operation) + ": the session is not logged on");
}

Store& PstSession::AddPSTStore(const std::filesystem::path& path, int format,
                               std::string_view display_name) {
  RequireLoggedOn("AddPSTStore");
  if (format != kStoreFormatUnicode) {
    throw StoreError("AddPSTStore: store format " + std::to_string(format) +
                     " is not supported (only 1, Unicode)");
  }
  stores_.push_back(
      std::make_unique<PstStoreObject>(pst::messaging::PstStore::Create(path, display_name), parse_ahead_));
  return *stores_.back();
}

Store& PstSession::GetStoreFromID(std::string_view entry_id) {
  RequireLoggedOn("GetStoreFromID");
  for (const auto& store : stores_) {
    if (store->EntryID() == entry_id) return *store;
  }
  throw StoreError("GetStoreFromID: no store of this session has the entry ID \"" +
                   std::string(entry_id) + "\"");
}

std::unique_ptr<Folder> PstSession::GetFolderFromPath(std::string_view path) {
  RequireLoggedOn("GetFolderFromPath");
  if (path.substr(0, 2) != "\\\\") {
    throw StoreError("GetFolderFromPath: \"" + std::string(path) +
                     "\" does not start with \\\\ and a store's display name");
  }
  const std::string_view rest = path.substr(2);
  const std::size_t cut = rest.find('\\');
  const std::string_view store_name = rest.substr(0, cut);
  const std::string_view folder_path =
      cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  for (const auto& store : stores_) {
    if (store->DisplayName() != store_name) continue;
    std::optional<pst::messaging::Folder> folder = store->engine().FindFolder(folder_path);
    if (!folder) {
      throw StoreError("GetFolderFromPath: the store \"" + std::string(store_name) +
                       "\" has no folder \"" + std::string(folder_path) + "\"");
    }
    return std::make_unique<PstFolderObject>(*folder, parse_ahead_);
  }
  throw StoreError("GetFolderFromPath: no store of this session is named \"" +
                   std::string(store_name) + "\"");
}

void PstSession::ExpectImports(const source::PathList* files, std::vector<bool> messages,
                               unsigned threads) {
  parse_ahead_.reset();
  if (files == nullptr || messages.empty() || threads == 0) return;
  parse_ahead_ = std::make_unique<ParseAhead>(*files, std::move(messages), threads);
}

void PstSession::RemoveStore(Store& store) {
  RequireLoggedOn("RemoveStore");
  auto it = std::find_if(stores_.begin(), stores_.end(),
                         [&](const auto& s) { return s.get() == &store; });
  if (it == stores_.end()) throw StoreError("RemoveStore: the store is not of this session");
  // Forgotten even when closing fails: a failed close leaves the file as of its last commit.
  std::unique_ptr<PstStoreObject> closing = std::move(*it);
  stores_.erase(it);
  closing->Close();
}

void PstSession::Logoff() {
  ExpectImports(nullptr, {}, 0);
  // Every store is closed even when one fails; the first failure is raised afterwards.
  std::exception_ptr first;
  for (auto& store : stores_) {
    try {
      store->Close();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  stores_.clear();
  logged_on_ = false;
  if (first) std::rethrow_exception(first);
}

PstStoreObject::PstStoreObject(std::unique_ptr<pst::messaging::PstStore> store, const ParseAheadSlot& parse_ahead)
    : store_(std::move(store)), parse_ahead_(parse_ahead) {}

std::string PstStoreObject::EntryID() const { return Hex(store_->record_key()); }

std::string PstStoreObject::DisplayName() const { return store_->display_name(); }

void PstStoreObject::ValidateIPMTree() {
  // A store of ours holds every standard folder from its creation on; check that it does.
  for (const pst::messaging::DefaultFolderInfo& info : pst::messaging::DefaultFolders()) {
    store_->GetDefaultFolder(info.kind);
  }
}

std::unique_ptr<Folder> PstStoreObject::GetDefaultFolder(DefaultFolder kind) {
  const auto engine_kind = pst::messaging::DefaultFolderFromNumber(static_cast<int>(kind));
  if (!engine_kind) {
    throw StoreError("GetDefaultFolder: " + std::to_string(static_cast<int>(kind)) +
                     " is not a default folder kind");
  }
  return std::make_unique<PstFolderObject>(store_->GetDefaultFolder(*engine_kind), parse_ahead_);
}

std::unique_ptr<Folder> PstStoreObject::IPMRootFolder() {
  return std::make_unique<PstFolderObject>(store_->IpmSubtree(), parse_ahead_);
}

void PstStoreObject::Commit() { store_->Commit(); }

void PstStoreObject::Close() { store_->Close(); }

std::string PstFolderObject::Name() const { return folder_.name(); }

std::vector<std::unique_ptr<Folder>> PstFolderObject::Folders() {
  std::vector<std::unique_ptr<Folder>> out;
  for (const pst::messaging::Folder& f : folder_.SubFolders()) out.push_back(std::make_unique<PstFolderObject>(f, parse_ahead_));
  return out;
}

std::unique_ptr<Folder> PstFolderObject::SubFolder(std::string_view name) {
  std::optional<pst::messaging::Folder> f = folder_.FindSubFolder(name);
  if (!f) return nullptr;
  return std::make_unique<PstFolderObject>(*f, parse_ahead_);
}

std::unique_ptr<Folder> PstFolderObject::AddFolder(std::string_view name, int type) {
  // The folder types are the default folders' numbers: a new folder holds their kind.
  switch (type) {
    case kFolderTypeMail:
    case static_cast<int>(DefaultFolder::kCalendar):
    case static_cast<int>(DefaultFolder::kContacts):
    case static_cast<int>(DefaultFolder::kNotes):
    case static_cast<int>(DefaultFolder::kTasks): {
      const auto kind = static_cast<DefaultFolder>(type);
      return std::make_unique<PstFolderObject>(
          folder_.AddFolder(name, pst::messaging::InfoOf(kind).container_class), parse_ahead_);
    }
    default:
      throw StoreError("Folders.Add: folder type " + std::to_string(type) +
                       " is not supported (6 mail, 9 calendar, 10 contacts, 12 notes, 13 tasks)");
  }
}

std::unique_ptr<Item> PstFolderObject::AddItem(ItemType type) {
  switch (type) {
    case ItemType::kMessage:
    case ItemType::kAppointment:
    case ItemType::kContact:
    case ItemType::kTask:
    case ItemType::kNote:
    case ItemType::kDistList:
      return std::make_unique<PstItem>(folder_, type, parse_ahead_);
  }
  throw StoreError("Items.Add: item type " + std::to_string(static_cast<int>(type)) +
                   " is not supported (0, 1, 2, 3, 5 or 7)");
}

}  // namespace mailvane::store
