#include "source/temp_files.h"

#include <filesystem>
#include <system_error>

namespace mailvane::source {
namespace {

void Tell(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
}

}  // namespace

std::string TempFolderPath(std::string* why) {
  std::error_code ec;
  auto folder = std::filesystem::temp_directory_path(ec);
  if (ec) {
    Tell(why, "no folder for temporary files: " + ec.message());
    return {};
  }
  std::string text = folder.native();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

}  // namespace mailvane::source
