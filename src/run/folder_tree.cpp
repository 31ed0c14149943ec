#include "run/folder_tree.h"

#include "source/relative_folder.h"

namespace mailvane::run {

namespace {

constexpr char kSep = source::kStoreSeparator;
constexpr const char* kTreeStep = "folder tree";

std::string Join(const std::vector<std::string>& names, std::size_t first, std::size_t end) {
  std::string path;
  for (std::size_t i = first; i < end; ++i) {
    if (i > first) path += kSep;
    path += names[i];
  }
  return path;
}

// Index of the first folder name that a default folder stands for, with its kind; or
// names.size().
std::size_t FirstSpecial(const std::vector<std::string>& names, store::DefaultFolder& kind) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (const auto k = SpecialFolderOf(names[i])) {
      kind = *k;
      return i;
    }
  }
  return names.size();
}

int FolderTypeOf(const TreeContext& ctx, const std::string& entry) {
  if (ctx.folder_types == nullptr) return store::kFolderTypeMail;
  const auto it = ctx.folder_types->find(entry);
  return it == ctx.folder_types->end() ? store::kFolderTypeMail : it->second;
}

std::unique_ptr<store::Folder> Walk(store::Store& store, std::string_view szPath, bool raise) {
  if (szPath.empty() || szPath.front() != kSep) {
    // Outlook would read such a path from the explorer's current folder; there is none here.
    throw store::StoreError("folder path \"" + std::string(szPath) +
                            "\" does not begin with \\ and there is no current folder");
  }
  std::vector<std::string> names = SplitStorePath(szPath.substr(1));
  if (names.empty()) return nullptr;
  if (names.front() != store.DisplayName()) {
    throw store::StoreError("no store named \"" + names.front() + "\"");
  }
  std::unique_ptr<store::Folder> current = store.IPMRootFolder();
  for (std::size_t i = 1; i < names.size(); ++i) {
    std::unique_ptr<store::Folder> next = current->SubFolder(names[i]);
    if (next == nullptr) {
      if (!raise) return nullptr;
      throw store::StoreError("no folder \"" + names[i] + "\" in \"" + current->Name() + "\"");
    }
    current = std::move(next);
  }
  return current;
}

void CreateNested(const std::string& e, const std::vector<std::string>& names, TreeContext& ctx) {
  if (EndsWithDefaultFolderName(e)) return;
  const std::string& child = names.back();
  store::DefaultFolder kind = store::DefaultFolder::kInbox;
  const std::size_t special = FirstSpecial(names, kind);
  std::string parent_path;
  std::unique_ptr<store::Folder> parent_folder;
  source::TryStep(ctx.report, e, kTreeStep, [&] {
    if (special + 1 < names.size()) {
      // Every folder below an "Inbox" (a "Drafts", "Trash", "Junk") lives inside the
      // store's own folder of that kind, at any depth.
      store::Store& store = ctx.session.GetStoreFromID(ctx.storeID);
      parent_path = store.GetDefaultFolder(kind)->Name();
      if (special + 2 < names.size()) {
        parent_path += kSep + Join(names, special + 1, names.size() - 1);
      }
    } else {
      ctx.front_end.Yield();
      parent_path = Join(names, 0, names.size() - 1);
    }
    store::Store& store = ctx.session.GetStoreFromID(ctx.storeID);
    parent_folder = FindMAPIFolder(store, kSep + ctx.StoreDisplayName + kSep + parent_path);
    if (parent_folder == nullptr) {
      ctx.report.FolderPassedOver(e, "its parent folder " + parent_path + " is not in the store");
      return;
    }
    ctx.front_end.Yield();
    // A folder of that name made earlier (two "Inbox" branches) stays as it is.
    if (parent_folder->SubFolder(child) == nullptr) {
      parent_folder->AddFolder(child, FolderTypeOf(ctx, e));
    }
  });
  ctx.front_end.Yield();
  ctx.front_end.Doing(source::Activity::kCreatingFolder, child);
}

void CreateTopLevel(const std::string& e, TreeContext& ctx) {
  source::TryStep(ctx.report, e, kTreeStep, [&] {
    store::Store& store = ctx.session.GetStoreFromID(ctx.storeID);
    std::unique_ptr<store::Folder> root = store.IPMRootFolder();
    if (root->SubFolder(e) == nullptr) {
      root->AddFolder(e, FolderTypeOf(ctx, e));
      ctx.front_end.Doing(source::Activity::kCreatingFolder, e);
    }
  });
  ctx.front_end.Yield();
}

}  // namespace

std::vector<std::string> SplitStorePath(std::string_view path) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(kSep, start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) names.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

std::unique_ptr<store::Folder> OpenMAPIFolder(store::Store& store, std::string_view szPath) {
  return Walk(store, szPath, true);
}

std::unique_ptr<store::Folder> FindMAPIFolder(store::Store& store, std::string_view szPath) {
  return Walk(store, szPath, false);
}

bool EndsWithDefaultFolderName(std::string_view entry) {
  static constexpr std::string_view kEndings[] = {
      "Inbox", "Calendar", "Contacts", "Emailed Contacts", "Tasks", "Sent", "Notebook",
      "Conversations", "Drafts", "Trash", "Junk"};
  for (std::string_view ending : kEndings) {
    if (entry.size() >= ending.size() && entry.substr(entry.size() - ending.size()) == ending) {
      return true;
    }
  }
  return false;
}

void CreateFolderTree(const std::vector<std::string>& FolderList, TreeContext& ctx) {
  for (const std::string& e : FolderList) {
    if (e.find('!') != std::string::npos) {
      ctx.report.FolderPassedOver(e, "its name holds \"!\"");
      continue;
    }
    ctx.front_end.Yield();
    std::vector<std::string> names = SplitStorePath(e);
    if (names.size() >= 2) {
      CreateNested(e, names, ctx);
    } else if (names.size() == 1) {
      CreateTopLevel(e, ctx);
    }
  }
}

std::optional<store::DefaultFolder> SpecialFolderOf(std::string_view name) {
  if (name == "Inbox") return store::DefaultFolder::kInbox;
  if (name == "Drafts") return store::DefaultFolder::kDrafts;
  if (name == "Trash") return store::DefaultFolder::kDeletedItems;
  if (name == "Junk") return store::DefaultFolder::kJunk;
  return std::nullopt;
}

std::unique_ptr<store::Folder> OpenMirroredFolder(store::Store& store,
                                                  std::string_view relative_folder,
                                                  std::string& shown_path, int folder_type) {
  std::vector<std::string> names = SplitStorePath(relative_folder);
  store::DefaultFolder kind = store::DefaultFolder::kInbox;
  std::size_t first = FirstSpecial(names, kind);
  std::unique_ptr<store::Folder> current;
  if (first < names.size()) {
    current = store.GetDefaultFolder(kind);
    shown_path = current->Name();
    ++first;
  } else {
    current = store.IPMRootFolder();
    shown_path.clear();
    first = 0;
  }
  for (std::size_t i = first; i < names.size(); ++i) {
    std::unique_ptr<store::Folder> next = current->SubFolder(names[i]);
    if (next == nullptr) {
      next = current->AddFolder(names[i],
                                i + 1 == names.size() ? folder_type : store::kFolderTypeMail);
    }
    current = std::move(next);
    if (!shown_path.empty()) shown_path += kSep;
    shown_path += names[i];
  }
  return current;
}

}  // namespace mailvane::run
