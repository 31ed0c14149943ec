// The name-to-ID map of a store (MS-PST 2.4.7, node 0x61): which property id in 0x8000 and
// up stands for which named property. Entry k of the entry stream defines id 0x8000 + k;
// PS_MAPI and PS_PUBLIC_STRINGS are GUID indexes 1 and 2, other property sets are kept in
// the GUID stream (index 3 and up); string names live in the string stream, and 251 hash
// buckets let Outlook find a name without reading the whole entry stream.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "pst/messaging/named_property.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst::messaging {

inline constexpr std::uint16_t kFirstNamedId = 0x8000;
inline constexpr std::uint32_t kNameMapBucketCount = 251;

class NameToIdMap {
 public:
  NameToIdMap() = default;
  // Parses the map's property values; a damaged map raises FormatError.
  static NameToIdMap FromProperties(std::span<const ltp::TaggedValue> values);
  // The map of a file (an empty map when the file has no node 0x61).
  static NameToIdMap Load(ndb::NodeDatabase& db);

  // The id of a name, assigned (and the map marked changed) the first time it is asked for.
  // A numeric PS_MAPI name below 0x8000 is the property id itself and takes no entry.
  std::uint16_t IdFor(const NamedProperty& name);
  std::optional<std::uint16_t> Find(const NamedProperty& name) const;
  // The name behind an id of 0x8000 or more (the type is left at its default).
  std::optional<NamedProperty> NameOf(std::uint16_t id) const;

  std::size_t size() const { return entries_.size(); }
  bool changed() const { return changed_; }

  // The property values of the map as MS-PST lays them out: bucket count, the three
  // streams and every bucket (empty ones zero-length).
  std::vector<ltp::TaggedValue> ToProperties() const;
  // Replaces node 0x61 with this map and clears the changed mark.
  void Write(ndb::NodeDatabase& db);

 private:
  struct Entry {
    ltp::Guid set{};
    std::uint32_t lid = 0;
    std::u16string name;
    bool is_string = false;
  };
  static std::string KeyOf(const ltp::Guid& set, bool is_string, std::uint32_t lid,
                           const std::u16string& name);
  std::uint16_t GuidIndex(const ltp::Guid& set);  // 1, 2, or 3 + position in guids_ (added)

  std::vector<ltp::Guid> guids_;      // the GUID stream
  std::vector<Entry> entries_;   // entry k is id 0x8000 + k
  std::unordered_map<std::string, std::uint16_t> index_;  // KeyOf -> id
  bool changed_ = false;
};

// The hash record key and bucket of a name (MS-PST 2.4.7.5): numeric names hash to their
// LID, string names to the CRC-32 of their UTF-16LE bytes.
std::uint32_t NameHashBase(bool is_string, std::uint32_t lid, const std::u16string& name);
std::uint32_t NameBucketOf(std::uint16_t guid_index, bool is_string, std::uint32_t hash_base);

}  // namespace mailvane::pst::messaging
