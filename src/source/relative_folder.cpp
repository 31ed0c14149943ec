#include "source/relative_folder.h"

#include "source/path_names.h"

namespace mailvane::source {
namespace {

// The name without its "!<digits>" ending, when it has one and something stays before it.
std::string_view WithoutSplitSuffix(std::string_view name) {
  const auto bang = name.rfind('!');
  if (bang == std::string_view::npos || bang == 0 || bang + 1 == name.size()) return name;
  for (std::size_t k = bang + 1; k < name.size(); ++k) {
    if (name[k] < '0' || name[k] > '9') return name;
  }
  return name.substr(0, bang);
}

}  // namespace

std::string RelativeFolder(std::string_view file_path) {
  const auto cut = file_path.rfind(kPathSeparator);
  if (cut == std::string_view::npos) return {};
  const std::string_view folder = file_path.substr(0, cut);

  std::string result;
  result.reserve(folder.size());
  std::size_t start = 0;
  while (start <= folder.size()) {
    auto end = folder.find(kPathSeparator, start);
    if (end == std::string_view::npos) end = folder.size();
    if (end > start) {
      if (!result.empty()) result += kStoreSeparator;
      result.append(folder.substr(start, end - start));
    }
    start = end + 1;
  }
  return result;
}

std::string WithoutSplitSuffixes(std::string_view relative_folder) {
  std::string result;
  result.reserve(relative_folder.size());
  std::size_t start = 0;
  while (true) {
    auto end = relative_folder.find(kStoreSeparator, start);
    const bool last = end == std::string_view::npos;
    if (last) end = relative_folder.size();
    result.append(WithoutSplitSuffix(relative_folder.substr(start, end - start)));
    if (last) break;
    result += kStoreSeparator;
    start = end + 1;
  }
  return result;
}

}  // namespace mailvane::source
