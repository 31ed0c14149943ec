// Taking named values out of a record's token list. Zimbra writes every key and value as
// <length>:<text>, so after a split at ":" a key token is the key name followed by the
// length of its value, and the token before it ends with the key name's own length.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mailvane::zimbra {

enum class MetaKeyTest {
  // The token is the key name followed by nothing but its value's length digits, and the
  // token before it ends with the key name's length: "email2" is never "email".
  PrefixTest,
  // PrefixTest, and the token does not begin with the longer key named in `except`.
  PrefixExceptTest,
  // The token contains the key text anywhere (a quoted JSON key such as "name").
  ContainsTextTest,
};

enum class MetaValueForm {
  // The N characters that follow the colon after the key token, taken from the section
  // itself, so colons inside the value are kept; the rest of the section when shorter.
  CountedValue,
  // A date-time counted like CountedValue ("TZID=Europe/Berlin:20130412T140000",
  // "20130412T120000Z", "20130412T140000", "VALUE=DATE:20130412"), stored as its date
  // text: see MetaDateText.
  FixedTwoOnValue,
  // The next token split at ","; with fewer than two items, empty text; otherwise the
  // first item with every double quote removed.
  QuotedFirstItemValue,
};

struct MetaKey {
  std::string_view name;  // compared case-sensitively
  MetaKeyTest test;
  MetaValueForm form;
  std::size_t destination;    // index into the caller's value set
  std::string_view except{};  // the longer key that PrefixExceptTest refuses
};

// The caller's value set: UTF-8 texts indexed by MetaKey::destination.
using MetaValues = std::vector<std::string>;

// Tests tokens 1.. in order against every row whose key is not yet settled, in table
// order. The first token that passes a row's test settles it: its value is stored in the
// row's destination, or, when the value cannot be computed (the key token is the last
// token, or its count is too large to be a number), the destination keeps what it held.
// Tokens that start inside a counted value already taken are not tested, so the text of
// a value is never taken for a key. Fields the scan does not take are never touched; the
// set grows to hold every destination. Yields once per token.
void ScanMetaKeys(const std::vector<std::u16string>& tokens, std::span<const MetaKey> table,
                  MetaValues& values, const std::function<void()>& yield = {});

// The date text YYYYMMDD of a date-time value: the first 8 characters after its last ":",
// or of the whole value when it holds none.
std::string MetaDateText(std::string_view date_time);

}  // namespace mailvane::zimbra
