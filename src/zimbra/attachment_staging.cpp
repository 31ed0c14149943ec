#include "zimbra/attachment_staging.h"

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace mailvane::zimbra {
namespace {

constexpr std::size_t kMaxNameBytes = 200;  // well below NAME_MAX with room for " (n)"

// Cuts s to at most n bytes without splitting a UTF-8 sequence.
std::string_view CutUtf8(std::string_view s, std::size_t n) {
  if (s.size() <= n) return s;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n);
}

// "name.ext" -> {"name", ".ext"}; a leading dot or none: no extension.
std::pair<std::string_view, std::string_view> SplitExtension(std::string_view name) {
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {name, {}};
  return {name.substr(0, dot), name.substr(dot)};
}

}  // namespace

std::string SafeFileName(std::string_view name) {
  std::string safe;
  safe.reserve(name.size());
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    safe += (u < 0x20 || u == 0x7F || c == '/' || c == '\\') ? '_' : c;
  }
  if (safe.size() > kMaxNameBytes) {
    auto [stem, ext] = SplitExtension(safe);
    if (ext.size() > 16) ext = {};
    safe = std::string(CutUtf8(stem, kMaxNameBytes - ext.size())) + std::string(ext);
  }
  // Checked after shortening too: "..<long extension>" shortens to ".".
  if (safe.empty() || safe == "." || safe == "..") return "attachment";
  return safe;
}

StagingFolder::StagingFolder(const std::string& parent) {
  std::string pattern = parent;
  if (!pattern.empty() && pattern.back() != '/') pattern += '/';
  pattern += "ZIMstage-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    throw std::system_error(errno, std::generic_category(),
                            "cannot make a staging folder in " + parent);
  }
  path_ = pattern;
}

std::string StagingFolder::NewFilePath(std::string_view name) {
  const std::string safe = SafeFileName(name);
  std::string candidate = safe;
  const auto [stem, ext] = SplitExtension(safe);
  for (int n = 2; !used_.insert(candidate).second; ++n) {
    candidate = std::string(stem) + " (" + std::to_string(n) + ")" + std::string(ext);
  }
  return path_ + "/" + candidate;
}

void StagingFolder::Remove() {
  if (removed_) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  if (ec) throw std::system_error(ec, "cannot remove the staging folder " + path_);
  removed_ = true;
}

}  // namespace mailvane::zimbra
