// A named property (MS-OXPROPS, MS-PST 2.4.7): a property set GUID with either a numeric
// long ID (LID) or a string name. The store maps each to a property id >= 0x8000 through
// its name-to-ID map; the same name always gets the same id in one store.
#pragma once

#include <cstdint>
#include <string>

#include "pst/ltp/property_value.h"

namespace mailvane::pst {

struct NamedProperty {
  Guid set{};
  std::uint32_t lid = 0;  // used when name is empty
  std::u16string name;    // a string name (e.g. u"Keywords" in PS_PUBLIC_STRINGS)
  PropType type = PropType::kString;

  bool IsString() const { return !name.empty(); }
  bool operator==(const NamedProperty& o) const {
    return set == o.set && lid == o.lid && name == o.name;  // the type is not part of the name
  }
};

// Property sets (MS-OXPROPS 1.3.2), in the byte order stored in files.
Guid GuidFromString(const char* text);  // "00062004-0000-0000-C000-000000000046"

inline const Guid& PsetidAddress() {
  static const Guid g = GuidFromString("00062004-0000-0000-C000-000000000046");
  return g;
}
inline const Guid& PsetidAppointment() {
  static const Guid g = GuidFromString("00062002-0000-0000-C000-000000000046");
  return g;
}
inline const Guid& PsetidTask() {
  static const Guid g = GuidFromString("00062003-0000-0000-C000-000000000046");
  return g;
}
inline const Guid& PsetidCommon() {
  static const Guid g = GuidFromString("00062008-0000-0000-C000-000000000046");
  return g;
}
inline const Guid& PsetidNote() {
  static const Guid g = GuidFromString("0006200E-0000-0000-C000-000000000046");
  return g;
}
inline const Guid& PsPublicStrings() {
  static const Guid g = GuidFromString("00020329-0000-0000-C000-000000000046");
  return g;
}
inline const Guid& PsInternetHeaders() {
  static const Guid g = GuidFromString("00020386-0000-0000-C000-000000000046");
  return g;
}
inline const Guid& PsMapi() {
  static const Guid g = GuidFromString("00020328-0000-0000-C000-000000000046");
  return g;
}

}  // namespace mailvane::pst
