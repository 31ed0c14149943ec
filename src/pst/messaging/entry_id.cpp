#include "pst/messaging/entry_id.h"

#include <algorithm>

namespace mailvane::pst::messaging {

std::vector<std::uint8_t> MakeEntryId(const ltp::Guid& record_key, ndb::Nid nid) {
  std::vector<std::uint8_t> id(kEntryIdSize, 0);
  std::copy(record_key.begin(), record_key.end(), id.begin() + 4);
  for (int i = 0; i < 4; ++i) id[20 + i] = static_cast<std::uint8_t>(nid >> (8 * i));
  return id;
}

std::optional<ndb::Nid> NidFromEntryId(std::span<const std::uint8_t> entry_id, const ltp::Guid& record_key) {
  if (entry_id.size() != kEntryIdSize) return std::nullopt;
  if (entry_id[0] | entry_id[1] | entry_id[2] | entry_id[3]) return std::nullopt;
  if (!std::equal(record_key.begin(), record_key.end(), entry_id.begin() + 4)) return std::nullopt;
  ndb::Nid nid = 0;
  for (int i = 0; i < 4; ++i) nid |= static_cast<ndb::Nid>(entry_id[20 + i]) << (8 * i);
  return nid;
}

}  // namespace mailvane::pst::messaging
