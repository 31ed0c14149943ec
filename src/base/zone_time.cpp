#include "base/zone_time.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mailvane::base {
namespace {

// A zone's UTC offsets as its TZif file gives them (RFC 8536).
struct ZoneRules {
  std::vector<std::int64_t> transitions;  // UTC seconds, ascending
  std::vector<std::int32_t> offsets;      // offset in force from transitions[i] on
  std::int32_t initial_offset = 0;        // before the first transition (type 0)
  bool rule_after_last = false;           // a footer rule governs times after the last
};

// A plain zone id such as "Europe/Berlin": no absolute path, no "." or ".." part,
// nothing a file name could misuse.
bool IsPlainZoneId(std::string_view id) {
  if (id.empty() || id.size() > 255 || id.front() == '/' || id.back() == '/') return false;
  for (char c : id) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '/' || c == '_' || c == '-' || c == '+' || c == '.';
    if (!ok) return false;
  }
  std::size_t start = 0;
  while (start <= id.size()) {
    const std::size_t end = std::min(id.find('/', start), id.size());
    const std::string_view part = id.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

std::string ZoneFolder() {
  const char* dir = std::getenv("TZDIR");
  return dir && *dir ? std::string(dir) : std::string("/usr/share/zoneinfo");
}

class Reader {
 public:
  explicit Reader(const std::string& bytes) : b_(bytes) {}
  bool Has(std::size_t n) const { return pos_ <= b_.size() && b_.size() - pos_ >= n; }
  void Skip(std::size_t n) { pos_ += n; }
  std::int64_t Be(int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<unsigned char>(b_[pos_++]);
    if (bytes == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return static_cast<std::int64_t>(v);
  }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(b_[pos_++]); }
  std::size_t pos() const { return pos_; }

 private:
  const std::string& b_;
  std::size_t pos_ = 0;
};

std::optional<ZoneRules> ParseTzif(const std::string& bytes) {
  Reader r(bytes);
  auto header = [&](std::int64_t counts[6]) {
    if (!r.Has(44) || bytes.compare(r.pos(), 4, "TZif") != 0) return '\0';
    r.Skip(4);
    const char version = static_cast<char>(r.Byte());
    r.Skip(15);
    for (int i = 0; i < 6; ++i) counts[i] = r.Be(4);
    for (int i = 0; i < 6; ++i) {
      if (counts[i] < 0 || counts[i] > 100000) return '\0';
    }
    return version ? version : '1';
  };
  std::int64_t c[6];  // isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt
  const char version = header(c);
  if (!version) return std::nullopt;
  int time_size = 4;
  if (version >= '2') {
    const std::size_t v1 = c[3] * 5 + c[4] * 6 + c[5] + c[2] * 8 + c[1] + c[0];
    if (!r.Has(v1)) return std::nullopt;
    r.Skip(v1);
    if (header(c) < '2') return std::nullopt;
    time_size = 8;
  }
  const std::size_t timecnt = c[3], typecnt = c[4];
  if (typecnt == 0 || !r.Has(timecnt * (time_size + 1) + typecnt * 6)) return std::nullopt;

  ZoneRules z;
  z.transitions.reserve(timecnt);
  for (std::size_t i = 0; i < timecnt; ++i) z.transitions.push_back(r.Be(time_size));
  std::vector<std::uint8_t> index(timecnt);
  for (auto& i : index) i = r.Byte();
  std::vector<std::int32_t> type_offset(typecnt);
  for (auto& off : type_offset) {
    off = static_cast<std::int32_t>(r.Be(4));
    r.Skip(2);  // isdst, abbreviation index
  }
  for (std::uint8_t i : index) {
    if (i >= typecnt) return std::nullopt;
    z.offsets.push_back(type_offset[i]);
  }
  if (!std::is_sorted(z.transitions.begin(), z.transitions.end())) return std::nullopt;
  z.initial_offset = type_offset[0];
  if (version >= '2') {
    r.Skip(c[5] + c[2] * 12 + c[1] + c[0]);
    // The footer "\n<POSIX TZ>\n": a non-empty rule means times after the last
    // transition are not in the table.
    z.rule_after_last = r.Has(3) && bytes[r.pos()] == '\n' && bytes[r.pos() + 1] != '\n';
  }
  return z;
}

std::optional<std::string> ReadZoneFile(std::string_view id) {
  if (!IsPlainZoneId(id)) return std::nullopt;
  const std::string path = ZoneFolder() + "/" + std::string(id);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;  // "Europe" is a folder
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rbe"),
                                                      &std::fclose);
  if (!in) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0;) {
    bytes.append(buffer, n);
    if (bytes.size() > (1u << 20)) return std::nullopt;  // no zone file is that large
  }
  if (std::ferror(in.get())) return std::nullopt;
  return bytes;
}

std::optional<ZoneRules> LoadZone(std::string_view id) {
  const std::optional<std::string> bytes = ReadZoneFile(id);
  if (!bytes) return std::nullopt;
  return ParseTzif(*bytes);
}

// The slow way, for times the table does not cover: the C library under TZ=zone, with
// the process's TZ put back at once. Single-threaded callers only touch TZ here.
std::optional<std::int64_t> MktimeInZone(std::string_view zone,
                                         const CivilTime& w) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  const char* old = std::getenv("TZ");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  setenv("TZ", std::string(zone).c_str(), 1);
  tzset();
  std::tm tm = BrokenDownTime(w);
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (saved) {
    setenv("TZ", saved->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<std::int64_t>(t);
}

const ZoneRules* CachedZone(std::string_view zone) {
  static std::mutex mutex;
  static std::map<std::string, std::optional<ZoneRules>, std::less<>> cache;
  std::lock_guard lock(mutex);
  auto it = cache.find(zone);
  if (it == cache.end()) it = cache.emplace(std::string(zone), LoadZone(zone)).first;
  return it->second ? &*it->second : nullptr;
}

}  // namespace

std::optional<std::string> ZonePosixRule(std::string_view zone) {
  const std::optional<std::string> bytes = ReadZoneFile(zone);
  if (!bytes || bytes->size() < 3 || bytes->compare(0, 4, "TZif") != 0 || bytes->back() != '\n') {
    return std::nullopt;
  }
  const std::size_t start = bytes->rfind('\n', bytes->size() - 2);
  if (start == std::string::npos) return std::nullopt;
  std::string rule = bytes->substr(start + 1, bytes->size() - start - 2);
  if (rule.empty() || rule.find('\0') != std::string::npos) return std::nullopt;
  return rule;
}

std::optional<std::int64_t> ZonedTimeToUnix(std::string_view zone,
                                            const CivilTime& wall) {
  const ZoneRules* z = CachedZone(zone);
  if (!z) return std::nullopt;
  const std::int64_t local = UnixOfWallTime(wall);
  // Transition i takes effect for wall times from t_i + max(offset before, offset after):
  // wall times a change skips or repeats keep the offset in force before it.
  std::int32_t offset = z->initial_offset;
  std::size_t applied = 0;
  for (std::size_t lo = 0, hi = z->transitions.size(); lo < hi;) {
    const std::size_t mid = (lo + hi) / 2;
    const std::int32_t before = mid ? z->offsets[mid - 1] : z->initial_offset;
    const std::int64_t from = z->transitions[mid] + std::max(before, z->offsets[mid]);
    if (from <= local) {
      lo = mid + 1;
      applied = lo;
    } else {
      hi = mid;
    }
  }
  if (applied) offset = z->offsets[applied - 1];
  const std::int64_t utc = local - offset;
  if (z->rule_after_last && (z->transitions.empty() || utc >= z->transitions.back())) {
    return MktimeInZone(zone, wall);
  }
  return utc;
}

}  // namespace mailvane::base
