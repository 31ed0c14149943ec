#include "pst/messaging/name_to_id_map.h"

#include <cstdio>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/messaging/ltp_access.h"
#include "pst/messaging/property_tags.h"
#include "pst/ndb/crc32.h"
#include "pst/ndb/format_error.h"

namespace mailvane::pst::messaging {

namespace {

constexpr std::uint16_t kFirstBucketId = 0x1000;
constexpr std::uint16_t kGuidPsMapi = 1;
constexpr std::uint16_t kGuidPublicStrings = 2;
constexpr std::uint16_t kFirstStreamGuid = 3;

std::vector<std::uint8_t> Utf16Bytes(const std::u16string& s) {
  std::vector<std::uint8_t> out;
  out.reserve(s.size() * 2);
  for (char16_t c : s) base::Append16(out, static_cast<std::uint16_t>(c));
  return out;
}

}  // namespace

std::uint32_t NameHashBase(bool is_string, std::uint32_t lid, const std::u16string& name) {
  return is_string ? ndb::Crc32(Utf16Bytes(name)) : lid;
}

std::uint32_t NameBucketOf(std::uint16_t guid_index, bool is_string, std::uint32_t hash_base) {
  const std::uint32_t guid_term = (std::uint32_t{guid_index} << 1) | (is_string ? 1u : 0u);
  return (guid_term ^ hash_base) % kNameMapBucketCount;
}

std::string NameToIdMap::KeyOf(const ltp::Guid& set, bool is_string, std::uint32_t lid,
                               const std::u16string& name) {
  std::string key(set.begin(), set.end());
  key.push_back(is_string ? 'S' : 'L');
  if (is_string) {
    for (char16_t c : name) {
      key.push_back(static_cast<char>(c & 0xFF));
      key.push_back(static_cast<char>(c >> 8));
    }
  } else {
    for (int i = 0; i < 4; ++i) key.push_back(static_cast<char>((lid >> (8 * i)) & 0xFF));
  }
  return key;
}

NameToIdMap NameToIdMap::FromProperties(std::span<const ltp::TaggedValue> values) {
  NameToIdMap map;
  const ltp::PropValue* guids = FindValue(values, kPrNameidStreamGuid);
  const ltp::PropValue* entries = FindValue(values, kPrNameidStreamEntry);
  const ltp::PropValue* strings = FindValue(values, kPrNameidStreamString);
  if (guids != nullptr) {
    const auto& b = guids->bytes();
    if (b.size() % 16 != 0) {
      throw ndb::FormatError("the name-to-ID map's GUID stream holds " + std::to_string(b.size()) +
                        " bytes, not a multiple of 16");
    }
    for (std::size_t at = 0; at < b.size(); at += 16) {
      ltp::Guid g{};
      std::copy(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + 16), g.begin());
      map.guids_.push_back(g);
    }
  }
  if (entries == nullptr) return map;
  const auto& e = entries->bytes();
  if (e.size() % 8 != 0) {
    throw ndb::FormatError("the name-to-ID map's entry stream holds " + std::to_string(e.size()) +
                      " bytes, not a multiple of 8");
  }
  static const std::vector<std::uint8_t> kNoStrings;
  const auto& s = strings ? strings->bytes() : kNoStrings;
  for (std::size_t k = 0; k < e.size() / 8; ++k) {
    const std::uint32_t first = base::Get32(e, 8 * k);
    const std::uint32_t bits = base::Get32(e, 8 * k + 4);
    const bool is_string = (bits & 1) != 0;
    const auto guid_index = static_cast<std::uint16_t>((bits >> 1) & 0x7FFF);
    const auto prop_index = static_cast<std::uint16_t>(bits >> 16);
    const std::string where = "name-to-ID map entry " + std::to_string(k);
    if (prop_index != k) {
      throw ndb::FormatError(where + " gives property index " + std::to_string(prop_index));
    }
    Entry entry;
    entry.is_string = is_string;
    if (guid_index == kGuidPsMapi) {
      entry.set = PsMapi();
    } else if (guid_index == kGuidPublicStrings) {
      entry.set = PsPublicStrings();
    } else if (guid_index >= kFirstStreamGuid && std::size_t{guid_index} - kFirstStreamGuid < map.guids_.size()) {
      entry.set = map.guids_[guid_index - kFirstStreamGuid];
    } else if (guid_index != 0) {
      throw ndb::FormatError(where + " names GUID index " + std::to_string(guid_index) +
                        ", beyond the GUID stream");
    }
    if (is_string) {
      if (std::size_t{first} + 4 > s.size()) {
        throw ndb::FormatError(where + " names string offset " + base::Hex(first) + ", beyond the string stream");
      }
      const std::uint32_t length = base::Get32(s, first);
      if (length % 2 != 0 || std::size_t{first} + 4 + length > s.size()) {
        throw ndb::FormatError(where + " has a string of " + std::to_string(length) +
                          " bytes that does not fit the string stream");
      }
      for (std::uint32_t i = 0; i < length; i += 2) {
        entry.name.push_back(static_cast<char16_t>(base::Get16(s, first + 4 + i)));
      }
    } else {
      entry.lid = first;
    }
    const std::string key = KeyOf(entry.set, is_string, entry.lid, entry.name);
    if (map.index_.contains(key)) throw ndb::FormatError(where + " repeats the name of an earlier entry");
    map.index_[key] = static_cast<std::uint16_t>(kFirstNamedId + k);
    map.entries_.push_back(std::move(entry));
  }
  return map;
}

NameToIdMap NameToIdMap::Load(ndb::NodeDatabase& db) {
  const auto node = db.FindNode(ndb::kNidNameToIdMap);
  if (!node) return NameToIdMap();
  return FromProperties(ReadProperties(db, *node));
}

std::optional<std::uint16_t> NameToIdMap::Find(const NamedProperty& name) const {
  if (!name.IsString() && name.set == PsMapi() && name.lid < kFirstNamedId) {
    return static_cast<std::uint16_t>(name.lid);
  }
  const auto it = index_.find(KeyOf(name.set, name.IsString(), name.lid, name.name));
  if (it == index_.end()) return std::nullopt;
  return it->second;
}

std::uint16_t NameToIdMap::GuidIndex(const ltp::Guid& set) {
  if (set == PsMapi()) return kGuidPsMapi;
  if (set == PsPublicStrings()) return kGuidPublicStrings;
  for (std::size_t i = 0; i < guids_.size(); ++i) {
    if (guids_[i] == set) return static_cast<std::uint16_t>(kFirstStreamGuid + i);
  }
  if (guids_.size() + kFirstStreamGuid > 0x7FFF) {
    throw std::length_error("the name-to-ID map holds the most property sets it can");
  }
  guids_.push_back(set);
  return static_cast<std::uint16_t>(kFirstStreamGuid + guids_.size() - 1);
}

std::uint16_t NameToIdMap::IdFor(const NamedProperty& name) {
  if (auto id = Find(name)) return *id;
  if (entries_.size() >= 0x7FFF) {
    throw std::length_error("the name-to-ID map holds the most named properties it can (32,767)");
  }
  Entry entry{name.set, name.IsString() ? 0 : name.lid, name.name, name.IsString()};
  GuidIndex(entry.set);  // registers the property set in the GUID stream
  const auto id = static_cast<std::uint16_t>(kFirstNamedId + entries_.size());
  index_[KeyOf(entry.set, entry.is_string, entry.lid, entry.name)] = id;
  entries_.push_back(std::move(entry));
  changed_ = true;
  return id;
}

std::optional<NamedProperty> NameToIdMap::NameOf(std::uint16_t id) const {
  if (id < kFirstNamedId || std::size_t{id} - kFirstNamedId >= entries_.size()) return std::nullopt;
  const Entry& e = entries_[id - kFirstNamedId];
  NamedProperty n;
  n.set = e.set;
  n.lid = e.lid;
  n.name = e.name;
  return n;
}

std::vector<ltp::TaggedValue> NameToIdMap::ToProperties() const {
  std::vector<std::uint8_t> guid_stream;
  for (const ltp::Guid& g : guids_) guid_stream.insert(guid_stream.end(), g.begin(), g.end());
  std::vector<std::uint8_t> entry_stream, string_stream;
  std::vector<std::vector<std::uint8_t>> buckets(kNameMapBucketCount);
  auto guid_index = [&](const ltp::Guid& set) -> std::uint16_t {
    if (set == PsMapi()) return kGuidPsMapi;
    if (set == PsPublicStrings()) return kGuidPublicStrings;
    for (std::size_t i = 0; i < guids_.size(); ++i) {
      if (guids_[i] == set) return static_cast<std::uint16_t>(kFirstStreamGuid + i);
    }
    return 0;  // a set with no GUID (never added by IdFor)
  };
  for (std::size_t k = 0; k < entries_.size(); ++k) {
    const Entry& e = entries_[k];
    const std::uint16_t g = guid_index(e.set);
    const std::uint32_t bits = (static_cast<std::uint32_t>(k) << 16) |
                               (std::uint32_t{g} << 1) | (e.is_string ? 1u : 0u);
    std::uint32_t first = e.lid;
    if (e.is_string) {
      first = static_cast<std::uint32_t>(string_stream.size());
      const auto bytes = Utf16Bytes(e.name);
      base::Append32(string_stream, static_cast<std::uint32_t>(bytes.size()));
      string_stream.insert(string_stream.end(), bytes.begin(), bytes.end());
      while (string_stream.size() % 4 != 0) string_stream.push_back(0);  // entries 4-byte aligned
    }
    base::Append32(entry_stream, first);
    base::Append32(entry_stream, bits);
    const std::uint32_t hash = NameHashBase(e.is_string, e.lid, e.name);
    auto& bucket = buckets[NameBucketOf(g, e.is_string, hash)];
    base::Append32(bucket, hash);
    base::Append32(bucket, bits);
  }
  std::vector<ltp::TaggedValue> values;
  values.reserve(4 + kNameMapBucketCount);
  values.push_back({kPrNameidBucketCount, ltp::PropValue::Int32(static_cast<std::int32_t>(kNameMapBucketCount))});
  values.push_back({kPrNameidStreamGuid, ltp::PropValue::Binary(std::move(guid_stream))});
  values.push_back({kPrNameidStreamEntry, ltp::PropValue::Binary(std::move(entry_stream))});
  values.push_back({kPrNameidStreamString, ltp::PropValue::Binary(std::move(string_stream))});
  for (std::uint32_t i = 0; i < kNameMapBucketCount; ++i) {
    values.push_back({ltp::MakeTag(static_cast<std::uint16_t>(kFirstBucketId + i), ltp::PropType::kBinary),
                      ltp::PropValue::Binary(std::move(buckets[i]))});
  }
  return values;
}

void NameToIdMap::Write(ndb::NodeDatabase& db) {
  const auto values = ToProperties();
  const NodeContent c = WriteProperties(db, values);
  db.PutNode(ndb::NodeEntry{ndb::kNidNameToIdMap, c.data, c.subnodes, 0});
  changed_ = false;
}

}  // namespace mailvane::pst::messaging
