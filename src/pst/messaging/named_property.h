// A named property (MS-OXPROPS, MS-PST 2.4.7): a property set GUID with either a numeric
// long ID (LID) or a string name. The store maps each to a property id >= 0x8000 through
// its name-to-ID map; the same name always gets the same id in one store.
#pragma once

#include <cstdint>
#include <string>

#include "pst/ltp/property_value.h"

namespace mailvane::pst::messaging {

struct NamedProperty {
  ltp::Guid set{};
  std::uint32_t lid = 0;  // used when name is empty
  std::u16string name;    // a string name (e.g. u"Keywords" in PS_PUBLIC_STRINGS)
  ltp::PropType type = ltp::PropType::kString;

  bool IsString() const { return !name.empty(); }
  bool operator==(const NamedProperty& o) const {
    return set == o.set && lid == o.lid && name == o.name;  // the type is not part of the name
  }
};

// Property sets (MS-OXPROPS 1.3.2), in the byte order stored in files.
ltp::Guid GuidFromString(const char* text);  // "00062004-0000-0000-C000-000000000046"

inline const ltp::Guid& PsetidAddress() {
  static const ltp::Guid g = GuidFromString("00062004-0000-0000-C000-000000000046");
  return g;
}
inline const ltp::Guid& PsetidAppointment() {
  static const ltp::Guid g = GuidFromString("00062002-0000-0000-C000-000000000046");
  return g;
}
inline const ltp::Guid& PsetidTask() {
  static const ltp::Guid g = GuidFromString("00062003-0000-0000-C000-000000000046");
  return g;
}
inline const ltp::Guid& PsetidCommon() {
  static const ltp::Guid g = GuidFromString("00062008-0000-0000-C000-000000000046");
  return g;
}
inline const ltp::Guid& PsetidNote() {
  static const ltp::Guid g = GuidFromString("0006200E-0000-0000-C000-000000000046");
  return g;
}
inline const ltp::Guid& PsPublicStrings() {
  static const ltp::Guid g = GuidFromString("00020329-0000-0000-C000-000000000046");
  return g;
}
inline const ltp::Guid& PsInternetHeaders() {
  static const ltp::Guid g = GuidFromString("00020386-0000-0000-C000-000000000046");
  return g;
}
inline const ltp::Guid& PsMapi() {
  static const ltp::Guid g = GuidFromString("00020328-0000-0000-C000-000000000046");
  return g;
}

}  // namespace mailvane::pst::messaging
