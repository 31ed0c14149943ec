// What many tests need of the file system: a scratch folder of their own, whole files
// written and read, where the sources, the build and Outlook's reference files are, and
// deterministic bytes.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/whole_file.h"
#include "pst/check/finding.h"

namespace mailvane::testsupport {

namespace fs = std::filesystem;

// A fresh folder under the temporary folder, removed with everything in it at the end
// (owner rights are given back first, so read-only entries a test made go too).
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag = "test");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  // Writes bytes at a "/"-separated path below the folder (folders made); the full path.
  std::string Write(const std::string& relative, std::string_view bytes = "x") const;

 private:
  fs::path path_;
};

// Both throw std::runtime_error naming the file when it cannot be written or read.
void WriteFile(const fs::path& path, std::string_view bytes);  // makes the folders
inline std::string ReadFile(const fs::path& path) { return base::ReadWholeFile(path); }

fs::path SourceDir();  // MAILVANE_SOURCE_DIR, else the current folder
fs::path BuildDir();   // MAILVANE_BUILD_DIR, else the build folder holding this test program
fs::path BuiltProgram(const std::string& name);  // BuildDir()/src/name
// The only file of folder whose name ends in extension (".pst"), or an empty path when
// there is none or more than one.
fs::path OnlyFile(const fs::path& folder, const std::string& extension);
// The Outlook-made files, when they are there (they are not in a fresh clone).
std::optional<fs::path> ReferenceDir();

// A short RFC 822 message whose subject, Message-ID and body are made of subject; the body
// padded to body_bytes when that is more.
inline std::string Rfc822(const std::string& subject, std::size_t body_bytes = 0) {
  std::string body = "Body of " + subject;
  while (body.size() < body_bytes) body += " The quick brown fox jumps over the lazy dog.";
  return "From: a@example.com\r\nTo: b@example.com\r\nSubject: " + subject + "\r\nMessage-ID: <" +
         subject + "@example.com>\r\n\r\n" + body + "\r\n";
}

std::string FromHex(std::string_view hex);
std::string Base64(std::string_view bytes);  // one line, with padding
// n bytes of a pseudo-random sequence chosen by seed.
std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed = 1);
// A broken-down local time, for the fixed clocks that make the names of a run's files.
std::tm LocalTimeAt(int year, int month, int day, int hour, int minute = 0, int second = 0);
// Every path below root (files, folders, links, special files), relative to root.
std::set<std::string> TreeListing(const fs::path& root);
// True under AddressSanitizer or when MAILVANE_SHORT_TESTS is set: long loops run fewer rounds.
bool ShortTests();
// The checker's findings, one per line.
std::string Describe(const std::vector<pst::check::Finding>& findings);

}  // namespace mailvane::testsupport
