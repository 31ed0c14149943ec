#include "pst/ltp/property_value.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "pst/ndb/format_error.h"

namespace mailvane::pst {
namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDelta = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;

template <typename T>
std::vector<std::uint8_t> LittleEndian(T v) {
  std::vector<std::uint8_t> out(sizeof(T));
  std::uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof(T));
  for (std::size_t i = 0; i < sizeof(T); ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  return out;
}

std::uint64_t ReadLe(const std::uint8_t* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return v;
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::string TypeName(PropType t) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(t));
  return std::string("0x") + buf;
}

[[noreturn]] void WrongType(const char* reader, PropType actual) {
  throw std::logic_error(std::string("PropValue::") + reader + " called on a value of type " +
                         TypeName(actual));
}

void NeedSize(const std::vector<std::uint8_t>& b, std::size_t n, PropType t) {
  if (b.size() != n) {
    throw FormatError("property value of type " + TypeName(t) + " holds " +
                      std::to_string(b.size()) + " bytes, expected " + std::to_string(n));
  }
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
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
  if (n % 2 != 0) throw FormatError("UTF-16 string value has an odd byte count " + std::to_string(n));
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
  PutLe32(out, static_cast<std::uint32_t>(items.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(4 + 4 * items.size());
  for (const auto& item : items) {
    PutLe32(out, offset);
    offset += static_cast<std::uint32_t>(item.size());
  }
  for (const auto& item : items) out.insert(out.end(), item.begin(), item.end());
  return out;
}

std::vector<std::vector<std::uint8_t>> UnpackVariable(const std::vector<std::uint8_t>& b) {
  if (b.empty()) return {};
  if (b.size() < 4) throw FormatError("multi-valued property shorter than its count");
  std::uint64_t count = ReadLe(b.data(), 4);
  if (count > (b.size() - 4) / 4) {
    throw FormatError("multi-valued property count " + std::to_string(count) +
                      " does not fit its " + std::to_string(b.size()) + " bytes");
  }
  std::vector<std::vector<std::uint8_t>> items;
  items.reserve(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t start = ReadLe(b.data() + 4 + 4 * i, 4);
    std::uint64_t end = i + 1 < count ? ReadLe(b.data() + 8 + 4 * i, 4) : b.size();
    if (start < 4 + 4 * count || start > end || end > b.size()) {
      throw FormatError("multi-valued property item " + std::to_string(i) +
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

FileTime FileTimeFromUnix(std::int64_t unix_seconds) {
  // Times before 1601 have no FILETIME; they clamp to its epoch.
  if (unix_seconds <= -kEpochDelta) return 0;
  return static_cast<FileTime>(unix_seconds + kEpochDelta) * kTicksPerSecond;
}

std::int64_t UnixFromFileTime(FileTime t) {
  return static_cast<std::int64_t>(t / kTicksPerSecond) - kEpochDelta;
}

namespace {

// Decodes UTF-8 and hands each UTF-16 code unit to `put`; invalid bytes become U+FFFD.
// Runs of ASCII, most of any mail text, take the short path.
template <typename Put>
void DecodeUtf8(std::string_view utf8, Put&& put) {
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t n = utf8.size();
  std::size_t i = 0;
  while (i < n) {
    unsigned char b = p[i];
    if (b < 0x80) {
      put(static_cast<char16_t>(b));
      ++i;
      continue;
    }
    char32_t c = 0;
    std::size_t len = 0;
    char32_t min = 0;
    if ((b & 0xE0) == 0xC0) { c = b & 0x1F; len = 2; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; len = 3; min = 0x800; }
    else if ((b & 0xF8) == 0xF0) { c = b & 0x07; len = 4; min = 0x10000; }
    bool ok = len != 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) ok = false;
      else c = (c << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (ok && (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
    if (!ok) {
      put(u'\uFFFD');
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      put(static_cast<char16_t>(0xD800 + (c >> 10)));
      put(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      put(static_cast<char16_t>(c));
    }
    i += len;
  }
}

// UTF-8 straight to the little-endian bytes of a string value, without a UTF-16 copy
// in between. A UTF-16 text never has more code units than its UTF-8 form has bytes.
std::vector<std::uint8_t> Utf16LeBytesFromUtf8(std::string_view utf8) {
  std::vector<std::uint8_t> out(utf8.size() * 2);
  std::uint8_t* o = out.data();
  DecodeUtf8(utf8, [&o](char16_t u) {
    o[0] = static_cast<std::uint8_t>(u);
    o[1] = static_cast<std::uint8_t>(u >> 8);
    o += 2;
  });
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

}  // namespace

std::u16string Utf16FromUtf8(std::string_view utf8) {
  std::u16string out(utf8.size(), u'\0');
  std::size_t k = 0;
  DecodeUtf8(utf8, [&](char16_t u) { out[k++] = u; });
  out.resize(k);
  return out;
}

std::string Utf8FromUtf16(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

PropValue PropValue::Int16(std::int16_t v) { return {PropType::kInt16, LittleEndian(v)}; }
PropValue PropValue::Int32(std::int32_t v) { return {PropType::kInt32, LittleEndian(v)}; }
PropValue PropValue::Int64(std::int64_t v) { return {PropType::kInt64, LittleEndian(v)}; }
PropValue PropValue::Double(double v) { return {PropType::kDouble, LittleEndian(v)}; }
PropValue PropValue::Boolean(bool v) {
  return {PropType::kBoolean, {static_cast<std::uint8_t>(v ? 1 : 0)}};
}
PropValue PropValue::Time(FileTime v) { return {PropType::kTime, LittleEndian(v)}; }
PropValue PropValue::String(std::string_view utf8) {
  return {PropType::kString, Utf16LeBytesFromUtf8(utf8)};
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
  for (const auto& s : utf8_values) items.push_back(Utf16LeBytesFromUtf8(s));
  return {PropType::kMvString, PackVariable(items)};
}
PropValue PropValue::MvBinary(const std::vector<std::vector<std::uint8_t>>& values) {
  return {PropType::kMvBinary, PackVariable(values)};
}
PropValue PropValue::MvInt32(const std::vector<std::int32_t>& values) {
  // Fixed-size multi-values are the items back to back (MS-PST 2.3.3.4.1).
  std::vector<std::uint8_t> out;
  out.reserve(values.size() * 4);
  for (std::int32_t v : values) PutLe32(out, static_cast<std::uint32_t>(v));
  return {PropType::kMvInt32, std::move(out)};
}

std::int32_t PropValue::AsInt32() const {
  switch (type_) {
    case PropType::kInt16:
      NeedSize(bytes_, 2, type_);
      return static_cast<std::int16_t>(ReadLe(bytes_.data(), 2));
    case PropType::kInt32:
      NeedSize(bytes_, 4, type_);
      return static_cast<std::int32_t>(ReadLe(bytes_.data(), 4));
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
      return static_cast<std::int64_t>(ReadLe(bytes_.data(), 8));
    case PropType::kInt32:
      return AsInt32();
    default:
      WrongType("AsInt64", type_);
  }
}

bool PropValue::AsBool() const {
  if (type_ != PropType::kBoolean) WrongType("AsBool", type_);
  // A table cell holds one byte, a property context four; any non-zero byte is true.
  if (bytes_.empty()) throw FormatError("boolean property value holds no bytes");
  for (std::uint8_t b : bytes_) {
    if (b != 0) return true;
  }
  return false;
}

double PropValue::AsDouble() const {
  if (type_ == PropType::kFloat) {
    NeedSize(bytes_, 4, type_);
    auto bits = static_cast<std::uint32_t>(ReadLe(bytes_.data(), 4));
    float f = 0;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  if (type_ != PropType::kDouble && type_ != PropType::kAppTime) WrongType("AsDouble", type_);
  NeedSize(bytes_, 8, type_);
  std::uint64_t bits = ReadLe(bytes_.data(), 8);
  double d = 0;
  std::memcpy(&d, &bits, 8);
  return d;
}

FileTime PropValue::AsTime() const {
  if (type_ != PropType::kTime) WrongType("AsTime", type_);
  NeedSize(bytes_, 8, type_);
  return ReadLe(bytes_.data(), 8);
}

std::string PropValue::AsString() const {
  // String8 values are taken as they are stored (this engine writes only Unicode files).
  if (type_ == PropType::kString8) return std::string(bytes_.begin(), bytes_.end());
  return Utf8FromUtf16(AsString16());
}

std::u16string PropValue::AsString16() const {
  if (type_ != PropType::kString) WrongType("AsString16", type_);
  return Utf16FromBytes(bytes_.data(), bytes_.size());
}

std::vector<std::string> PropValue::AsMvString() const {
  if (type_ != PropType::kMvString) WrongType("AsMvString", type_);
  std::vector<std::string> out;
  for (const auto& item : UnpackVariable(bytes_)) {
    out.push_back(Utf8FromUtf16(Utf16FromBytes(item.data(), item.size())));
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
    throw FormatError("multi-valued Int32 property of " + std::to_string(bytes_.size()) +
                      " bytes is not a whole number of values");
  }
  std::vector<std::int32_t> out(bytes_.size() / 4);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<std::int32_t>(ReadLe(bytes_.data() + 4 * i, 4));
  }
  return out;
}

}  // namespace mailvane::pst
