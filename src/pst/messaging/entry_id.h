// Entry IDs of folders and messages in a PST (MS-PST 2.4.3.2): four zero flag bytes, the
// store's record key (its provider UID) and the object's NID.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pst/ltp/property_value.h"
#include "pst/ndb/ids.h"

namespace mailvane::pst::messaging {

inline constexpr std::size_t kEntryIdSize = 24;

std::vector<std::uint8_t> MakeEntryId(const ltp::Guid& record_key, ndb::Nid nid);
// The NID of an entry ID of this store; nullopt when the bytes are not one (wrong size,
// flags or another store's record key).
std::optional<ndb::Nid> NidFromEntryId(std::span<const std::uint8_t> entry_id, const ltp::Guid& record_key);

}  // namespace mailvane::pst::messaging
