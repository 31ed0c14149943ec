#include "pst/ltp/property_value.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "base/file_time.h"
#include "base/hex.h"
#include "base/little_endian.h"
#include "base/utf.h"
#include "pst/ndb/format_error.h"

namespace mailvane::pst::ltp {
namespace {

template <typename T>
std::vector<std::uint8_t> LittleEndian(T v) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof(T));
  std::vector<std::uint8_t> out(8);
  base::Put64(out.data(), bits);
  out.resize(sizeof(T));
  return out;
}

std::string TypeName(PropType t) { return base::Hex(static_cast<std::uint16_t>(t), 4); }

[[noreturn]] void WrongType(const char* reader, PropType actual) {
  throw std::logic_error(std::string("PropValue::") + reader + " called on a value of type " +
                         TypeName(actual));
}

void NeedSize(const std::vector<std::uint8_t>& b, std::size_t n, PropType t) {
  if (b.size() != n) {
    throw ndb::FormatError("property value of type " + TypeName(t) + " holds " +
                      std::to_string(b.size()) + " bytes, expected " + std::to_string(n));
  }
}

std::vector<std::uint8_t> Utf16Bytes(std::u16string_view s) {
  std::vector<std::uint8_t> out(s.size() * 2);
  for (std::size_t i = 0; i < s.size(); ++i) {
    out[2 * i] = static_cast<std::uint8_t>(s[i]);
    out[2 * i + 1] = static_cast<std::uint8_t>(s[i] >> 8);
  }
  return out;
}

std::u16string Utf16FromBytes(const std::uint8_t* p, std::size_t n) {
  if (n % 2 != 0) throw ndb::FormatError("UTF-16 string value has an odd byte count " + std::to_string(n));
  std::u16string s(n / 2, u'\0');
  for (std::size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  }
  return s;
}

// Multi-valued variable-size layout (MS-PST 2.3.3.4.2): ulCount, ulCount offsets from the
// start of the value, then the items back to back.
std::vector<std::uint8_t> PackVariable(const std::vector<std::vector<std::uint8_t>>& items) {
  std::vector<std::uint8_t> out;
  std::size_t total = 4 + 4 * items.size();
  for (const auto& item : items) total += item.size();
  if (total > 0xFFFFFFFFu) throw std::length_error("multi-valued property larger than 4 GB");
  out.reserve(total);
  base::Append32(out, static_cast<std::uint32_t>(items.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(4 + 4 * items.size());
  for (const auto& item : items) {
    base::Append32(out, offset);
    offset += static_cast<std::uint32_t>(item.size());
  }
  for (const auto& item : items) out.insert(out.end(), item.begin(), item.end());
  return out;
}

std::vector<std::vector<std::uint8_t>> UnpackVariable(const std::vector<std::uint8_t>& b) {
  if (b.empty()) return {};
  if (b.size() < 4) throw ndb::FormatError("multi-valued property shorter than its count");
  std::uint64_t count = base::Get32(b.data());
  if (count > (b.size() - 4) / 4) {
    throw ndb::FormatError("multi-valued property count " + std::to_string(count) +
                      " does not fit its " + std::to_string(b.size()) + " bytes");
  }
  std::vector<std::vector<std::uint8_t>> items;
  items.reserve(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t start = base::Get32(b.data() + 4 + 4 * i);
    std::uint64_t end = i + 1 < count ? base::Get32(b.data() + 8 + 4 * i) : b.size();
    if (start < 4 + 4 * count || start > end || end > b.size()) {
      throw ndb::FormatError("multi-valued property item " + std::to_string(i) +
                        " has offsets outside the value");
    }
    items.emplace_back(b.begin() + static_cast<std::ptrdiff_t>(start),
                       b.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return items;
}

}  // namespace

std::size_t FixedSizeOf(PropType type) {
  switch (type) {
    case PropType::kInt16: return 2;
    case PropType::kInt32:
    case PropType::kFloat:
    case PropType::kError: return 4;
    case PropType::kBoolean: return 1;
    case PropType::kDouble:
    case PropType::kCurrency:
    case PropType::kAppTime:
    case PropType::kInt64:
    case PropType::kTime: return 8;
    case PropType::kGuid: return 16;
    default: return 0;
  }
}

bool IsMultiValued(PropType type) { return (static_cast<std::uint16_t>(type) & 0x1000) != 0; }


PropValue PropValue::Int16(std::int16_t v) { return {PropType::kInt16, LittleEndian(v)}; }
PropValue PropValue::Int32(std::int32_t v) { return {PropType::kInt32, LittleEndian(v)}; }
PropValue PropValue::Int64(std::int64_t v) { return {PropType::kInt64, LittleEndian(v)}; }
PropValue PropValue::Double(double v) { return {PropType::kDouble, LittleEndian(v)}; }
PropValue PropValue::Boolean(bool v) {
  return {PropType::kBoolean, {static_cast<std::uint8_t>(v ? 1 : 0)}};
}
PropValue PropValue::Time(base::FileTime v) { return {PropType::kTime, LittleEndian(v)}; }
PropValue PropValue::String(std::string_view utf8) {
  return {PropType::kString, base::Utf16LeFromUtf8(utf8)};
}
PropValue PropValue::String16(std::u16string_view utf16) {
  return {PropType::kString, Utf16Bytes(utf16)};
}
PropValue PropValue::Binary(std::vector<std::uint8_t> bytes) {
  return {PropType::kBinary, std::move(bytes)};
}
PropValue PropValue::GuidValue(const Guid& g) {
  return {PropType::kGuid, std::vector<std::uint8_t>(g.begin(), g.end())};
}
PropValue PropValue::MvString(const std::vector<std::string>& utf8_values) {
  std::vector<std::vector<std::uint8_t>> items;
  items.reserve(utf8_values.size());
  for (const auto& s : utf8_values) items.push_back(base::Utf16LeFromUtf8(s));
  return {PropType::kMvString, PackVariable(items)};
}
PropValue PropValue::MvBinary(const std::vector<std::vector<std::uint8_t>>& values) {
  return {PropType::kMvBinary, PackVariable(values)};
}
PropValue PropValue::MvInt32(const std::vector<std::int32_t>& values) {
  // Fixed-size multi-values are the items back to back (MS-PST 2.3.3.4.1).
  std::vector<std::uint8_t> out;
  out.reserve(values.size() * 4);
  for (std::int32_t v : values) base::Append32(out, static_cast<std::uint32_t>(v));
  return {PropType::kMvInt32, std::move(out)};
}

std::int32_t PropValue::AsInt32() const {
  switch (type_) {
    case PropType::kInt16:
      NeedSize(bytes_, 2, type_);
      return static_cast<std::int16_t>(base::Get16(bytes_.data()));
    case PropType::kInt32:
      NeedSize(bytes_, 4, type_);
      return static_cast<std::int32_t>(base::Get32(bytes_.data()));
    case PropType::kBoolean:
      return AsBool() ? 1 : 0;
    default:
      WrongType("AsInt32", type_);
  }
}

std::int64_t PropValue::AsInt64() const {
  switch (type_) {
    case PropType::kInt64:
    case PropType::kTime:
      NeedSize(bytes_, 8, type_);
      return static_cast<std::int64_t>(base::Get64(bytes_.data()));
    case PropType::kInt32:
      return AsInt32();
    default:
      WrongType("AsInt64", type_);
  }
}

bool PropValue::AsBool() const {
  if (type_ != PropType::kBoolean) WrongType("AsBool", type_);
  // A table cell holds one byte, a property context four; any non-zero byte is true.
  if (bytes_.empty()) throw ndb::FormatError("boolean property value holds no bytes");
  for (std::uint8_t b : bytes_) {
    if (b != 0) return true;
  }
  return false;
}

double PropValue::AsDouble() const {
  if (type_ == PropType::kFloat) {
    NeedSize(bytes_, 4, type_);
    auto bits = static_cast<std::uint32_t>(base::Get32(bytes_.data()));
    float f = 0;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  if (type_ != PropType::kDouble && type_ != PropType::kAppTime) WrongType("AsDouble", type_);
  NeedSize(bytes_, 8, type_);
  std::uint64_t bits = base::Get64(bytes_.data());
  double d = 0;
  std::memcpy(&d, &bits, 8);
  return d;
}

base::FileTime PropValue::AsTime() const {
  if (type_ != PropType::kTime) WrongType("AsTime", type_);
  NeedSize(bytes_, 8, type_);
  return base::Get64(bytes_.data());
}

std::string PropValue::AsString() const {
  // String8 values are taken as they are stored (this engine writes only Unicode files).
  if (type_ == PropType::kString8) return std::string(bytes_.begin(), bytes_.end());
  return base::Utf8FromUtf16(AsString16());
}

std::u16string PropValue::AsString16() const {
  if (type_ != PropType::kString) WrongType("AsString16", type_);
  return Utf16FromBytes(bytes_.data(), bytes_.size());
}

std::vector<std::string> PropValue::AsMvString() const {
  if (type_ != PropType::kMvString) WrongType("AsMvString", type_);
  std::vector<std::string> out;
  for (const auto& item : UnpackVariable(bytes_)) {
    out.push_back(base::Utf8FromUtf16(Utf16FromBytes(item.data(), item.size())));
  }
  return out;
}

std::vector<std::vector<std::uint8_t>> PropValue::AsMvBinary() const {
  if (type_ != PropType::kMvBinary) WrongType("AsMvBinary", type_);
  return UnpackVariable(bytes_);
}

std::vector<std::int32_t> PropValue::AsMvInt32() const {
  if (type_ != PropType::kMvInt32) WrongType("AsMvInt32", type_);
  if (bytes_.size() % 4 != 0) {
    throw ndb::FormatError("multi-valued Int32 property of " + std::to_string(bytes_.size()) +
                      " bytes is not a whole number of values");
  }
  std::vector<std::int32_t> out(bytes_.size() / 4);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<std::int32_t>(base::Get32(bytes_.data() + 4 * i));
  }
  return out;
}

}  // namespace mailvane::pst::ltp
