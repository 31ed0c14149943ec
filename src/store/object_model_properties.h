// What a property name of Outlook's object model ("FirstName", "Start", "Email1Address",
// ...) means in MAPI terms: the properties it writes, by tag or by name. Derived values
// (an e-mail's display name and entry ID, an appointment's duration) follow Outlook's own
// object model so the item shows in Outlook as if Outlook had made it.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "base/file_time.h"
#include "pst/ltp/property_value.h"
#include "pst/messaging/named_property.h"
#include "store/mail_store.h"

namespace mailvane::store {

// A property by tag (named empty) or by name (tag's type only).
struct PropertyKey {
  pst::ltp::PropTag tag = 0;
  std::optional<pst::messaging::NamedProperty> named;

  static PropertyKey Tag(pst::ltp::PropTag t) { return PropertyKey{t, std::nullopt}; }
  static PropertyKey Lid(const pst::ltp::Guid& set, std::uint32_t lid, pst::ltp::PropType type);
  static PropertyKey Name(const pst::ltp::Guid& set, std::u16string_view name, pst::ltp::PropType type);
  bool operator==(const PropertyKey&) const = default;
};

struct PropertyWrite {
  PropertyKey key;
  pst::ltp::PropValue value;
};

// The message class of a new item of that type.
const char* MessageClassOf(ItemType type);

// Each raises StoreError when the item type has no property of that name (or not of that
// kind: a text name given a date).
std::vector<PropertyWrite> TextPropertyWrites(ItemType type, std::string_view name,
                                              std::string_view utf8);
// utc is the moment; wall the same time on the local wall clock, unconverted (see
// WallClockFileTime), for the properties Outlook keeps that way.
std::vector<PropertyWrite> TimePropertyWrites(ItemType type, std::string_view name,
                                              base::FileTime utc, base::FileTime wall);
std::vector<PropertyWrite> BoolPropertyWrites(ItemType type, std::string_view name, bool value);
std::vector<PropertyWrite> IntPropertyWrites(ItemType type, std::string_view name, int value);

}  // namespace mailvane::store
