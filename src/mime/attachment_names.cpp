#include "mime/attachment_names.h"

#include <cctype>

namespace mailvane::mime {
namespace {

// Characters an 8.3 name may hold, upper-cased; anything else is dropped.
std::string ShortChars(std::string_view s, std::size_t max) {
  std::string out;
  for (char ch : s) {
    if (out.size() == max) break;
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || c == '_' || c == '-' || c == '$' || c == '~' || c == '!' ||
        c == '#' || c == '%' || c == '&' || c == '@' || c == '(' || c == ')') {
      out += static_cast<char>(std::toupper(c));
    }
  }
  return out;
}

}  // namespace

std::string SafeFileName(std::string_view name) {
  const auto slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  std::string out;
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c != 0x7F) out += ch;
  }
  const auto first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  out = out.substr(first, out.find_last_not_of(' ') - first + 1);
  if (out == "." || out == "..") return {};
  return out;
}

std::string ExtensionOf(std::string_view name) {
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {};
  return std::string(name.substr(dot));
}

std::string ShortFileName(std::string_view long_name) {
  const std::string ext = ExtensionOf(long_name);
  const std::string_view stem = long_name.substr(0, long_name.size() - ext.size());
  const std::string ext_chars = ext.empty() ? std::string() : ShortChars(ext.substr(1), 3);
  std::string short_stem = ShortChars(stem, 8);
  const bool fits = short_stem.size() == stem.size() && stem.size() <= 8 && !stem.empty() &&
                    ext_chars.size() + (ext.empty() ? 0 : 1) == ext.size();
  if (!fits) {
    short_stem = ShortChars(stem, 6);
    if (short_stem.empty()) short_stem = "ATTACH";
    short_stem += "~1";
  }
  return ext_chars.empty() ? short_stem : short_stem + "." + ext_chars;
}

}  // namespace mailvane::mime
