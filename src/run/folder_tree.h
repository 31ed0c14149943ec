// The store side of the export's folders: OpenMAPIFolder, the mirrored folder tree made
// before any item is written, and the mirrored folder of one relative path made on demand.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "run/run_report.h"
#include "source/front_end.h"
#include "store/mail_store.h"

namespace mailvane::run {

// The folder at "\" + store display name + "\" + folder path, walked name by name from the
// store's top; nullptr for "" or "\". A path not starting with "\" (relative to a current
// folder, which we have none of), a store of another name, or a folder that does not exist
// raises StoreError.
std::unique_ptr<store::Folder> OpenMAPIFolder(store::Store& store, std::string_view szPath);
// The same walk, giving nullptr where a folder of the path does not exist.
std::unique_ptr<store::Folder> FindMAPIFolder(store::Store& store, std::string_view szPath);

struct TreeContext {
  store::Session& session;
  const std::string& storeID;
  const std::string& StoreDisplayName;
  source::FrontEnd& front_end;
  RunReport& report;
  // Folders.Add's type per entry; entries not in it are mail folders.
  const std::map<std::string, int>* folder_types = nullptr;
};

// One store folder for each entry of the sorted folder list: top-level entries at the
// store's top, folders below an "Inbox" inside the store's inbox (at any depth), the rest
// inside their parent. Entries holding "!" and entries ending in a name that a default
// folder stands for are passed over. Every failure is recorded and skipped.
void CreateFolderTree(const std::vector<std::string>& FolderList, TreeContext& ctx);

// Whether the folder tree passes an entry over because a default folder stands for it.
bool EndsWithDefaultFolderName(std::string_view entry);

// The default folder that stands for an export folder of that name wherever it is:
// Inbox, Drafts, Trash (Deleted Items) and Junk (Junk E-mail).
std::optional<store::DefaultFolder> SpecialFolderOf(std::string_view name);

// The mirrored folder of a relative folder, each missing folder on the way created: below
// the store's own folder when a folder of the path is one that SpecialFolderOf names
// (the first such), else from the store's top. The folder itself, when made, is of
// folder_type. shown_path is set to the store-side path of the folder, for the report.
std::unique_ptr<store::Folder> OpenMirroredFolder(store::Store& store,
                                                  std::string_view relative_folder,
                                                  std::string& shown_path,
                                                  int folder_type = store::kFolderTypeMail);

// Splits a "\"-separated store path into its folder names.
std::vector<std::string> SplitStorePath(std::string_view path);

}  // namespace mailvane::run
