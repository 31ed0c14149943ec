#include "source/path_names.h"

#include <sys/stat.h>

namespace mailvane::source {

std::string FileNameOf(std::string_view path) {
  const auto cut = path.rfind(kPathSeparator);
  if (cut == std::string_view::npos) return std::string(path);
  return std::string(path.substr(cut + 1));
}

std::string ParentPathOf(std::string_view path) {
  const auto cut = path.rfind(kPathSeparator);
  if (cut == std::string_view::npos) return {};
  return std::string(path.substr(0, cut + 1));
}

bool FileExists(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return false;
  return !S_ISDIR(info.st_mode);
}

}  // namespace mailvane::source
