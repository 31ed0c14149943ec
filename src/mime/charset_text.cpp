#include "mime/charset_text.h"

#include <gmime/gmime.h>
#include <iconv.h>

#include <array>
#include <cerrno>
#include <cctype>
#include <utility>

namespace mailvane::mime {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Strict conversion with iconv; false when the charset is unknown or a byte does not fit.
bool IconvToUtf8(std::string_view bytes, const std::string& charset, std::string& out) {
  const char* name = g_mime_charset_iconv_name(charset.c_str());
  iconv_t cd = iconv_open("UTF-8", name ? name : charset.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.clear();
  out.reserve(bytes.size() + bytes.size() / 2);
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  std::array<char, 16384> buf;
  bool ok = true;
  while (in_left > 0) {
    char* dst = buf.data();
    std::size_t dst_left = buf.size();
    std::size_t r = iconv(cd, &in, &in_left, &dst, &dst_left);
    out.append(buf.data(), buf.size() - dst_left);
    if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
      ok = false;  // EILSEQ or a truncated sequence at the end
      break;
    }
  }
  if (ok) {  // flush a stateful encoding's shift sequence
    char* dst = buf.data();
    std::size_t dst_left = buf.size();
    iconv(cd, nullptr, nullptr, &dst, &dst_left);
    out.append(buf.data(), buf.size() - dst_left);
  }
  iconv_close(cd);
  return ok;
}

bool IsUtf8Name(const std::string& lower) { return lower == "utf-8" || lower == "utf8"; }
bool IsAsciiName(const std::string& lower) {
  return lower == "us-ascii" || lower == "ascii" || lower == "ansi_x3.4-1968";
}

}  // namespace

bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF.
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += len;
  }
  return true;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  static constexpr std::array<char16_t, 32> kHigh = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b >= 0x80 && b < 0xA0) {
      AppendUtf8(out, kHigh[b - 0x80]);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

DecodedText DecodeToUtf8(std::string_view bytes, std::string_view charset) {
  const std::string name = Lower(charset);
  DecodedText result;
  if (IsValidUtf8(bytes) && (name.empty() || IsUtf8Name(name) || IsAsciiName(name))) {
    result.utf8.assign(bytes);
    return result;
  }
  if (!name.empty() && !IsUtf8Name(name) && !IsAsciiName(name) &&
      IconvToUtf8(bytes, name, result.utf8)) {
    return result;
  }
  // No charset, a wrong one or an unknown one: 8-bit mail is mostly UTF-8 or Windows-1252.
  result.fell_back = !name.empty();
  if (IsValidUtf8(bytes)) {
    result.utf8.assign(bytes);
  } else {
    result.utf8 = Windows1252ToUtf8(bytes);
  }
  return result;
}

std::int32_t CodePageOfCharset(std::string_view charset) {
  static const std::pair<const char*, std::int32_t> kTable[] = {
      {"us-ascii", 20127},    {"ascii", 20127},         {"utf-8", 65001},
      {"utf8", 65001},        {"utf-7", 65000},         {"utf-16", 1200},
      {"utf-16le", 1200},     {"utf-16be", 1201},       {"iso-8859-1", 28591},
      {"latin1", 28591},      {"iso-8859-2", 28592},    {"iso-8859-3", 28593},
      {"iso-8859-4", 28594},  {"iso-8859-5", 28595},    {"iso-8859-6", 28596},
      {"iso-8859-7", 28597},  {"iso-8859-8", 28598},    {"iso-8859-9", 28599},
      {"iso-8859-13", 28603}, {"iso-8859-15", 28605},   {"windows-1250", 1250},
      {"windows-1251", 1251}, {"windows-1252", 1252},   {"windows-1253", 1253},
      {"windows-1254", 1254}, {"windows-1255", 1255},   {"windows-1256", 1256},
      {"windows-1257", 1257}, {"windows-1258", 1258},   {"cp1252", 1252},
      {"koi8-r", 20866},      {"koi8-u", 21866},        {"iso-2022-jp", 50220},
      {"shift_jis", 932},     {"shift-jis", 932},       {"euc-jp", 51932},
      {"gb2312", 936},        {"gbk", 936},             {"gb18030", 54936},
      {"big5", 950},          {"euc-kr", 51949},        {"ks_c_5601-1987", 949},
      {"iso-2022-kr", 50225}, {"tis-620", 874},         {"windows-874", 874},
  };
  const std::string name = Lower(charset);
  for (const auto& [n, cp] : kTable) {
    if (name == n) return cp;
  }
  return 0;
}

}  // namespace mailvane::mime
