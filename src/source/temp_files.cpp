#include "source/temp_files.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

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

std::string MakeTempFileName(const std::string& prefix, std::string* why) {
  if (prefix.find('/') != std::string::npos || prefix.find('\0') != std::string::npos) {
    Tell(why, "temporary file prefix \"" + prefix + "\" holds a path separator");
    return {};
  }
  const std::string folder = TempFolderPath(why);
  if (folder.empty()) return {};

  static constexpr char kSuffix[] = ".TMP";
  std::string pattern = folder + prefix + "XXXXXX" + kSuffix;
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  // mkstemps picks the name and creates the file with O_CREAT | O_EXCL in one call.
  const int fd = ::mkstemps(buffer.data(), static_cast<int>(sizeof kSuffix - 1));
  if (fd < 0) {
    const int error = errno;
    Tell(why, "cannot create a temporary file in " + folder + ": " + std::strerror(error));
    return {};
  }
  if (::close(fd) != 0) {
    const int error = errno;
    Tell(why, "cannot close the temporary file " + std::string(buffer.data()) + ": " +
                  std::strerror(error));
    ::unlink(buffer.data());
    return {};
  }
  return std::string(buffer.data());
}

}  // namespace mailvane::source
