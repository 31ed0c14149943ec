// A handle on one folder of an open PstStore. Cheap to copy; valid while the store is open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pst/ndb/ids.h"

namespace mailvane::pst::messaging {

class PstStore;

class Folder {
 public:
  Folder(PstStore& store, ndb::Nid nid) : store_(&store), nid_(nid) {}

  ndb::Nid nid() const { return nid_; }
  PstStore& store() const { return *store_; }
  const std::string& name() const;
  // Empty for folders without PidTagContainerClass (the top of the tree, search root).
  std::string container_class() const;
  std::int32_t content_count() const;
  std::int32_t unread_count() const;
  bool has_sub_folders() const;

  std::vector<Folder> SubFolders() const;
  // The sub-folder of that name (exact match first, then ignoring ASCII case, as MAPI
  // matches folder names); nullopt when there is none.
  std::optional<Folder> FindSubFolder(std::string_view name) const;
  // A new mail sub-folder (IPF.Note). A name already used by a sibling (ignoring ASCII
  // case) or an empty name raises FolderError.
  Folder AddFolder(std::string_view name, std::string_view container_class = "IPF.Note");

  std::vector<std::uint8_t> EntryId() const;

  bool operator==(const Folder& o) const { return store_ == o.store_ && nid_ == o.nid_; }

 private:
  PstStore* store_;
  ndb::Nid nid_;
};

}  // namespace mailvane::pst::messaging
