// What the store keeps in memory for one folder: its properties, its children and (once a
// message touches the folder) what its contents table needs to grow. The hierarchy table
// and the folder object are rebuilt from this at commit.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pst/ltp/table_context_appender.h"
#include "pst/messaging/ltp_access.h"
#include "pst/ndb/ids.h"

namespace mailvane::pst::messaging {

struct FolderState {
  ndb::Nid nid = 0;
  ndb::Nid parent = 0;
  std::string name;  // UTF-8
  std::optional<std::string> container_class;
  std::vector<ltp::TaggedValue> props;  // every property of the folder object, kept as read
  std::vector<ndb::Nid> children;       // in hierarchy-table order
  std::int32_t content_count = 0;
  std::int32_t unread_count = 0;

  // The contents table, read from the file only when a message first changes it.
  std::unique_ptr<ltp::TableContextAppender> contents;

  bool props_dirty = false;
  bool hierarchy_dirty = false;
  bool contents_dirty = false;
};

}  // namespace mailvane::pst::messaging
