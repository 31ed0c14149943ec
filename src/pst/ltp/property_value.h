// A MAPI property value held as the bytes the PST format stores for it (MS-PST 2.3.3.5,
// MS-OXCDATA 2.11): little-endian integers, UTF-16LE strings, FILETIME times, and the
// multi-valued layouts of MS-PST 2.3.3.4. Keeping the stored form makes writing a value
// a copy, and reading one back exact.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_time.h"

namespace mailvane::pst::ltp {

using PropTag = std::uint32_t;  // id << 16 | type

enum class PropType : std::uint16_t {
  kInt16 = 0x0002,
  kInt32 = 0x0003,
  kFloat = 0x0004,
  kDouble = 0x0005,
  kCurrency = 0x0006,
  kAppTime = 0x0007,
  kError = 0x000A,
  kBoolean = 0x000B,
  kObject = 0x000D,
  kInt64 = 0x0014,
  kString8 = 0x001E,
  kString = 0x001F,
  kTime = 0x0040,
  kGuid = 0x0048,
  kBinary = 0x0102,
  kMvInt16 = 0x1002,
  kMvInt32 = 0x1003,
  kMvInt64 = 0x1014,
  kMvString8 = 0x101E,
  kMvString = 0x101F,
  kMvTime = 0x1040,
  kMvGuid = 0x1048,
  kMvBinary = 0x1102,
};

constexpr PropTag MakeTag(std::uint16_t id, PropType type) {
  return (static_cast<PropTag>(id) << 16) | static_cast<std::uint16_t>(type);
}
constexpr std::uint16_t PropIdOf(PropTag tag) { return static_cast<std::uint16_t>(tag >> 16); }
constexpr PropType PropTypeOf(PropTag tag) { return static_cast<PropType>(tag & 0xFFFF); }

// Size of a fixed-size type's value, 0 for variable-size types.
std::size_t FixedSizeOf(PropType type);
bool IsMultiValued(PropType type);

using Guid = std::array<std::uint8_t, 16>;

class PropValue {
 public:
  PropValue() = default;
  PropValue(PropType type, std::vector<std::uint8_t> bytes)
      : type_(type), bytes_(std::move(bytes)) {}

  static PropValue Int16(std::int16_t v);
  static PropValue Int32(std::int32_t v);
  static PropValue Int64(std::int64_t v);
  static PropValue Double(double v);
  static PropValue Boolean(bool v);
  static PropValue Time(base::FileTime v);
  static PropValue String(std::string_view utf8);
  static PropValue String16(std::u16string_view utf16);
  static PropValue Binary(std::vector<std::uint8_t> bytes);
  static PropValue GuidValue(const Guid& g);
  static PropValue MvString(const std::vector<std::string>& utf8_values);
  static PropValue MvBinary(const std::vector<std::vector<std::uint8_t>>& values);
  static PropValue MvInt32(const std::vector<std::int32_t>& values);

  PropType type() const { return type_; }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  // Replaces type and bytes, reusing the value's buffer: for values refilled many times.
  void Assign(PropType type, const std::uint8_t* bytes, std::size_t size) {
    type_ = type;
    bytes_.assign(bytes, bytes + size);
  }

  // Readers; each raises std::logic_error when the type does not match.
  std::int32_t AsInt32() const;  // also reads Int16 and Boolean
  std::int64_t AsInt64() const;  // also reads Time and Int32
  bool AsBool() const;
  double AsDouble() const;
  base::FileTime AsTime() const;
  std::string AsString() const;  // UTF-8, from String or String8
  std::u16string AsString16() const;
  std::vector<std::string> AsMvString() const;
  std::vector<std::vector<std::uint8_t>> AsMvBinary() const;
  std::vector<std::int32_t> AsMvInt32() const;

  bool operator==(const PropValue&) const = default;

 private:
  PropType type_ = PropType::kBinary;
  std::vector<std::uint8_t> bytes_;
};

struct TaggedValue {
  PropTag tag = 0;
  PropValue value;
  bool operator==(const TaggedValue&) const = default;
};

}  // namespace mailvane::pst::ltp
