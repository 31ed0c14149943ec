// Writes .meta records the way a Zimbra server does: the metadata dictionary with string
// lengths in UTF-16 code units, JSON-escaped into one line of UTF-8 JSON.
#pragma once

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

namespace mailvane::zimbra::testing {

// <UTF-16 length>:<text>, for a key or a string value given in UTF-8.
inline std::string S(std::string_view utf8) {
  std::size_t units = 0;
  for (std::size_t k = 0; k < utf8.size(); ++k) {
    const auto b = static_cast<unsigned char>(utf8[k]);
    if ((b & 0xC0) != 0x80) units += b >= 0xF0 ? 2 : 1;
  }
  return std::to_string(units) + ":" + std::string(utf8);
}

// A key followed by its string value.
inline std::string KV(std::string_view key, std::string_view value) { return S(key) + S(value); }

// org.json's quoting: " \ and control characters escaped, "/" after "<", and U+2000..U+20FF
// written as \uXXXX; other text stays raw UTF-8.
inline std::string JsonQuote(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (std::size_t k = 0; k < utf8.size(); ++k) {
    const char c = utf8[k];
    const auto b = static_cast<unsigned char>(c);
    if (b == 0xE2 && k + 2 < utf8.size() &&
        (static_cast<unsigned char>(utf8[k + 1]) & 0xFC) == 0x80) {
      const unsigned cp = ((b & 0x0F) << 12) | ((utf8[k + 1] & 0x3F) << 6) | (utf8[k + 2] & 0x3F);
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
      k += 2;
      continue;
    }
    static constexpr std::pair<char, const char*> kEscapes[] = {
        {'"', "\\\""}, {'\\', "\\\\"}, {'\n', "\\n"}, {'\r', "\\r"},
        {'\t', "\\t"}, {'\b', "\\b"}, {'\f', "\\f"}};
    const auto* escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                      [c](const auto& e) { return e.first == c; });
    if (escape != std::end(kEscapes)) {
      out += escape->second;
    } else if (c == '/') {
      out += k > 0 && utf8[k - 1] == '<' ? "\\/" : "/";
    } else if (b < 0x20) {
      out += "\\u00";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// One record line as a Java 8+ server writes it for an item without a name.
inline std::string RecordLine(std::string_view path, std::string_view metadata, int type) {
  return "{\"date\":1365700000,\"Path\":" + JsonQuote(path) +
         ",\"metadata\":" + JsonQuote(metadata) +
         ",\"Ver\":10,\"mod_metadata\":412,\"FlagStr\":\"\",\"volume_id\":0,\"unread\":0,"
         "\"change_date\":1365700000,\"mod_content\":412,\"flags\":0,\"TagStr\":\"\",\"type\":" +
         std::to_string(type) +
         ",\"size\":0,\"TagNames\":\"\",\"parent_id\":-1,\"id\":263,\"folder_id\":7,"
         "\"index_id\":0,\"imap_id\":263}";
}

}  // namespace mailvane::zimbra::testing
