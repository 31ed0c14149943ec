#include "support/files.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace mailvane::testsupport {

ScratchDir::ScratchDir(const std::string& tag) {
  static std::atomic<int> counter{0};
  path_ = fs::temp_directory_path() / ("mailvane-" + tag + "-" + std::to_string(::getpid()) + "-" +
                                       std::to_string(++counter));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string ScratchDir::Write(const std::string& relative, std::string_view bytes) const {
  const fs::path p = path_ / relative;
  WriteFile(p, bytes);
  return p.string();
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::set<std::string> TreeListing(const fs::path& root) {
  std::set<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    out.insert(it->path().lexically_relative(root).string());
  }
  if (ec) throw std::system_error(ec, "cannot list " + root.string());
  return out;
}

bool ShortTests() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return std::getenv("MAILVANE_SHORT_TESTS") != nullptr;
#endif
}

fs::path SourceDir() {
  const char* dir = std::getenv("MAILVANE_SOURCE_DIR");
  return dir != nullptr ? fs::path(dir) : fs::current_path();
}

fs::path BuildDir() {
  const char* dir = std::getenv("MAILVANE_BUILD_DIR");
  return dir != nullptr ? fs::path(dir)
                        : fs::read_symlink("/proc/self/exe").parent_path().parent_path();
}

fs::path BuiltProgram(const std::string& name) { return BuildDir() / "src" / name; }

fs::path OnlyFile(const fs::path& folder, const std::string& extension) {
  fs::path found;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    if (e.path().extension() != extension) continue;
    if (!found.empty()) return {};
    found = e.path();
  }
  return found;
}

std::optional<fs::path> ReferenceDir() {
  const fs::path dir = SourceDir() / ".." / "shared" / "reference" / "outlook-pst";
  if (!fs::is_directory(dir)) return std::nullopt;
  return dir;
}

std::string FromHex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

std::string Base64(std::string_view bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    for (std::size_t k = 0; k < 4; ++k) {
      out += i + k <= bytes.size() ? kAlphabet[(v >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return out;
}

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return v;
}

std::string Describe(const std::vector<pst::check::Finding>& findings) {
  std::string out;
  for (const pst::check::Finding& f : findings) {
    out += (f.severity == pst::check::Severity::kError ? "error " : "note ") + f.area + ": " + f.message + "\n";
  }
  return out;
}

std::tm LocalTimeAt(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

}  // namespace mailvane::testsupport
