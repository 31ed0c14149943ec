#include "cli/pst_names.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace mailvane::cli {

namespace {

constexpr std::size_t kMaxFileName = 255;  // bytes, as Linux file systems allow

bool EndsWithNoCase(std::string_view text, std::string_view ending) {
  return text.size() >= ending.size() &&
         std::equal(ending.begin(), ending.end(), text.end() - static_cast<long>(ending.size()),
                    [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) ==
                             std::tolower(static_cast<unsigned char>(b));
                    });
}

}  // namespace

std::string PstFileName(const std::string& wanted, std::string& why) {
  if (wanted.empty() || wanted == "." || wanted == "..") {
    why = "not a file name";
    return "";
  }
  if (wanted.find('/') != std::string::npos || wanted.find('\0') != std::string::npos) {
    why = "a file name without \"/\" is needed; the .pst goes into TARGET_FOLDER";
    return "";
  }
  std::string name = EndsWithNoCase(wanted, ".pst") ? wanted : wanted + ".pst";
  // The report beside it takes ".log" for ".pst": same length.
  if (name.size() > kMaxFileName) {
    why = "longer than " + std::to_string(kMaxFileName) + " bytes";
    return "";
  }
  if (name.size() == 4) {
    why = "a name before \".pst\" is needed";
    return "";
  }
  return name;
}

std::string DefaultPstName(const std::string& source, std::string& why) {
  std::string_view path = source;
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  static constexpr std::array<std::string_view, 5> kArchiveEndings = {".tar.gz", ".tgz", ".tar",
                                                                      ".zip", ".gz"};
  for (std::string_view ending : kArchiveEndings) {
    if (!EndsWithNoCase(last, ending)) continue;
    if (last.size() > ending.size()) last.remove_suffix(ending.size());
    break;
  }
  if (last.empty() || last == "." || last == "..") {
    why = "no name can be taken from " + source + "; give one after a tab";
    return "";
  }
  return PstFileName(std::string(last), why);
}

}  // namespace mailvane::cli
