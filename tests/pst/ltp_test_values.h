// Values for the property and table context tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/file_time.h"
#include "base/utf.h"
#include "pst/ltp/property_context.h"

namespace mailvane::pst::ltp_testing {

inline std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t seed = 1) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 13);
  return v;
}

inline std::u16string Text16(std::size_t bytes) {
  std::u16string s;
  // A mix of BMP and non-BMP characters, cut to the size wanted.
  while (s.size() * 2 < bytes) s += u"a\u00E9\u4E2D\U0001F600";
  s.resize(bytes / 2);
  if (!s.empty() && s.back() >= 0xD800 && s.back() <= 0xDBFF) s.back() = u'z';
  return s;
}

// One value of every type; strings, binaries and lists of about size bytes.
inline std::vector<ltp::TaggedValue> EveryType(std::size_t size, std::uint16_t first_id = 0x6000) {
  std::vector<std::string> strs;
  std::vector<std::vector<std::uint8_t>> bins;
  std::vector<std::int32_t> ints;
  if (size > 0) {
    strs = {"x", base::Utf8FromUtf16(Text16(size))};
    bins = {{}, Bytes(size, 3)};
    ints.resize(size / 4, -5);
  }
  std::uint16_t id = first_id;
  auto tag = [&](ltp::PropType t) { return ltp::MakeTag(id++, t); };
  ltp::Guid g{};
  for (int i = 0; i < 16; ++i) g[i] = static_cast<std::uint8_t>(i * 17);
  return {
      {tag(ltp::PropType::kInt16), ltp::PropValue::Int16(-300)},
      {tag(ltp::PropType::kInt32), ltp::PropValue::Int32(-70000)},
      {tag(ltp::PropType::kInt64), ltp::PropValue::Int64(-(1LL << 40))},
      {tag(ltp::PropType::kDouble), ltp::PropValue::Double(3.25)},
      {tag(ltp::PropType::kBoolean), ltp::PropValue::Boolean(true)},
      {tag(ltp::PropType::kBoolean), ltp::PropValue::Boolean(false)},
      {tag(ltp::PropType::kTime), ltp::PropValue::Time(base::FileTimeFromUnix(1700000000))},
      {tag(ltp::PropType::kString), ltp::PropValue::String16(Text16(size))},
      {tag(ltp::PropType::kBinary), ltp::PropValue::Binary(Bytes(size))},
      {tag(ltp::PropType::kGuid), ltp::PropValue::GuidValue(g)},
      {tag(ltp::PropType::kMvString), ltp::PropValue::MvString(strs)},
      {tag(ltp::PropType::kMvBinary), ltp::PropValue::MvBinary(bins)},
      {tag(ltp::PropType::kMvInt32), ltp::PropValue::MvInt32(ints)},
  };
}

}  // namespace mailvane::pst::ltp_testing
