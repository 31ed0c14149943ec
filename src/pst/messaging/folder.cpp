#include "pst/messaging/folder.h"

#include "pst/messaging/folder_names.h"
#include "pst/messaging/pst_store.h"

namespace mailvane::pst::messaging {

const std::string& Folder::name() const { return store_->StateOf(nid_).name; }

std::string Folder::container_class() const {
  return store_->StateOf(nid_).container_class.value_or("");
}

std::int32_t Folder::content_count() const { return store_->StateOf(nid_).content_count; }
std::int32_t Folder::unread_count() const { return store_->StateOf(nid_).unread_count; }
bool Folder::has_sub_folders() const { return !store_->StateOf(nid_).children.empty(); }

std::vector<Folder> Folder::SubFolders() const {
  std::vector<Folder> out;
  for (ndb::Nid child : store_->StateOf(nid_).children) out.emplace_back(*store_, child);
  return out;
}

std::optional<Folder> Folder::FindSubFolder(std::string_view name) const {
  const auto& children = store_->StateOf(nid_).children;
  for (ndb::Nid child : children) {
    if (store_->StateOf(child).name == name) return Folder(*store_, child);
  }
  for (ndb::Nid child : children) {
    if (FolderNamesCollide(store_->StateOf(child).name, name)) return Folder(*store_, child);
  }
  return std::nullopt;
}

Folder Folder::AddFolder(std::string_view name, std::string_view container_class) {
  return store_->AddFolder(nid_, name, container_class);
}

std::vector<std::uint8_t> Folder::EntryId() const { return store_->EntryIdOf(nid_); }

}  // namespace mailvane::pst::messaging
