#include "zimbra/meta_text.h"

#include "base/hex.h"
#include "base/utf.h"
#include "base/windows_1252.h"

namespace mailvane::zimbra {

std::u16string DecodeMetaBytes(std::string_view bytes) {
  // Every byte gives at most one code unit (a 4-byte sequence gives two), so the text
  // never outgrows the bytes: write in place, then cut to size.
  std::u16string out(bytes.size(), u'\0');
  std::size_t used = 0;
  // A byte that is no UTF-8 is read as Windows-1252, as older servers wrote.
  base::DecodeUtf8(bytes, [&](char16_t u) { out[used++] = u; },
                   [](unsigned char byte) { return base::Windows1252Char(byte); });
  out.resize(used);
  return out;
}

std::u16string UnescapeJson(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    // Copy the plain run up to the next backslash in one go.
    const auto backslash = text.find(u'\\', at);
    if (backslash == std::u16string_view::npos) {
      out.append(text.substr(at));
      break;
    }
    out.append(text.substr(at, backslash - at));
    at = backslash;
    const char16_t c = text[at];
    if (at + 1 == text.size()) {
      out += c;
      continue;
    }
    char16_t decoded = 0;
    std::size_t used = 1;
    switch (text[at + 1]) {
      case u'"':
        decoded = u'"';
        break;
      case u'\\':
        decoded = u'\\';
        break;
      case u'/':
        decoded = u'/';
        break;
      case u'b':
        decoded = u'\b';
        break;
      case u'f':
        decoded = u'\f';
        break;
      case u'n':
        decoded = u'\n';
        break;
      case u'r':
        decoded = u'\r';
        break;
      case u't':
        decoded = u'\t';
        break;
      case u'u': {
        int value = 0;
        for (std::size_t k = 2; k < 6 && value >= 0; ++k) {
          const int digit = at + k < text.size() ? base::HexDigitValue(text[at + k]) : -1;
          value = digit < 0 ? -1 : value * 16 + digit;
        }
        if (value < 0) {
          used = 0;
        } else {
          decoded = static_cast<char16_t>(value);
          used = 5;
        }
        break;
      }
      default:
        used = 0;
        break;
    }
    if (used == 0) {
      out += c;  // not an escape: the backslash stays
    } else {
      out += decoded;
      at += used;
    }
  }
  return out;
}

std::string ToUtf8(std::u16string_view text) { return base::Utf8FromUtf16(text); }

}  // namespace mailvane::zimbra
