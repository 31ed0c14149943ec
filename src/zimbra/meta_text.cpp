#include "zimbra/meta_text.h"

#include <array>

namespace mailvane::zimbra {
namespace {

// Windows-1252 0x80..0x9F; the five bytes the code page leaves undefined map to the C1
// controls of the same value, as Windows itself converts them.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t FromCp1252(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kCp1252High[byte - 0x80];
  return byte;
}

// Length of the well-formed UTF-8 sequence at bytes[at], or 0 when there is none.
std::size_t Utf8SequenceAt(std::string_view bytes, std::size_t at, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(bytes[at]);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, cp = b0 & 0x1F, minimum = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, cp = b0 & 0x0F, minimum = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, cp = b0 & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > bytes.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto b = static_cast<unsigned char>(bytes[at + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

std::u16string DecodeMetaBytes(std::string_view bytes) {
  // Every byte gives at most one code unit (a 4-byte sequence gives two), so the text
  // never outgrows the bytes: write in place, then cut to size.
  std::u16string out(bytes.size(), u'\0');
  std::size_t used = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    if (byte < 0x80) {
      out[used++] = byte;
      ++at;
      continue;
    }
    char32_t cp = 0;
    const std::size_t length = Utf8SequenceAt(bytes, at, cp);
    if (length == 0) {
      out[used++] = FromCp1252(byte);
      ++at;
    } else if (cp < 0x10000) {
      out[used++] = static_cast<char16_t>(cp);
      at += length;
    } else {
      cp -= 0x10000;
      out[used++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      out[used++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      at += length;
    }
  }
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
          const int digit = at + k < text.size() ? HexValue(text[at + k]) : -1;
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

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    char32_t cp = text[at];
    if (cp >= 0xD800 && cp <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 &&
        text[at + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[at + 1] - 0xDC00);
      ++at;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace mailvane::zimbra
