#include "mime/charset_text.h"

#include <gmime/gmime.h>
#include <iconv.h>

#include <array>
#include <cerrno>
#include <cctype>
#include <utility>

#include "base/utf.h"
#include "base/windows_1252.h"

namespace mailvane::mime {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
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

DecodedText DecodeToUtf8(std::string_view bytes, std::string_view charset) {
  const std::string name = Lower(charset);
  DecodedText result;
  if (base::IsValidUtf8(bytes) && (name.empty() || IsUtf8Name(name) || IsAsciiName(name))) {
    result.utf8.assign(bytes);
    return result;
  }
  if (!name.empty() && !IsUtf8Name(name) && !IsAsciiName(name) &&
      IconvToUtf8(bytes, name, result.utf8)) {
    return result;
  }
  // No charset, a wrong one or an unknown one: 8-bit mail is mostly UTF-8 or Windows-1252.
  result.fell_back = !name.empty();
  if (base::IsValidUtf8(bytes)) {
    result.utf8.assign(bytes);
  } else {
    result.utf8 = base::Windows1252ToUtf8(bytes);
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
