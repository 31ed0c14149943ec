// Small readers over parsed messages for the MIME tests.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "mime/parsed_message.h"

namespace mailvane::mime::testing {

inline std::optional<std::string> TextOf(const PropertyList& list, pst::ltp::PropTag tag) {
  const pst::ltp::PropValue* v = FindProperty(list, tag);
  if (!v) return std::nullopt;
  return v->AsString();
}

inline std::optional<std::int32_t> IntOf(const PropertyList& list, pst::ltp::PropTag tag) {
  const pst::ltp::PropValue* v = FindProperty(list, tag);
  if (!v) return std::nullopt;
  return v->AsInt32();
}

inline std::string BytesAsString(const std::vector<std::uint8_t>& b) {
  return std::string(b.begin(), b.end());
}

inline std::optional<std::string> BinaryOf(const PropertyList& list, pst::ltp::PropTag tag) {
  const pst::ltp::PropValue* v = FindProperty(list, tag);
  if (!v) return std::nullopt;
  return BytesAsString(v->bytes());
}

}  // namespace mailvane::mime::testing
