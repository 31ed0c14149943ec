#include "cli/batch_list.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <map>

#include "cli/pst_names.h"

namespace mailvane::cli {

namespace fs = std::filesystem;

namespace {

// A source the conversion can open: a folder it may list or a file it may read.
std::string Unreadable(const std::string& source) {
  std::error_code ec;
  const fs::file_status status = fs::status(source, ec);
  if (ec) return ec.message();
  if (fs::is_directory(status)) {
    return ::access(source.c_str(), R_OK | X_OK) == 0 ? "" : std::strerror(errno);
  }
  if (!fs::is_regular_file(status)) return "neither a folder nor an archive file";
  return ::access(source.c_str(), R_OK) == 0 ? "" : std::strerror(errno);
}

}  // namespace

std::vector<BatchEntry> ReadBatchList(std::istream& list) {
  std::vector<BatchEntry> entries;
  std::map<std::string, int> lines_by_name;
  std::string text;
  int line = 0;
  while (std::getline(list, text)) {
    ++line;
    // Lists saved by Windows editors: a byte order mark and CR LF line ends.
    if (line == 1 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty() || text[0] == '#') continue;
    BatchEntry e;
    e.line = line;
    e.position = static_cast<int>(entries.size()) + 1;
    const std::size_t tab = text.find('\t');
    const std::string source = text.substr(0, tab);
    e.source = source.empty() ? source : fs::absolute(source).lexically_normal().string();
    std::string why;
    if (source.empty()) {
      e.error = "no source before the tab";
    } else if (source == "-") {
      e.error = "standard input cannot be a mailbox of a list";
    } else if (tab != std::string::npos) {
      e.name = PstFileName(text.substr(tab + 1), why);
      if (e.name.empty()) e.error = "the name \"" + text.substr(tab + 1) + "\": " + why;
    } else {
      e.name = DefaultPstName(e.source, why);
      if (e.name.empty()) e.error = why;
    }
    if (e.error.empty()) {
      const std::string unreadable = Unreadable(e.source);
      if (!unreadable.empty()) e.error = "cannot read " + e.source + ": " + unreadable;
    }
    if (!e.name.empty()) {
      // Two mailboxes must never share a file; the first line keeps the name.
      const auto [it, first] = lines_by_name.emplace(e.name, line);
      if (!first && e.error.empty()) {
        e.error = e.name + " is already the name of line " + std::to_string(it->second) +
                  "; give this line its own name after a tab";
      }
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

std::string ParseShard(const std::string& text, Shard& shard) {
  const std::size_t slash = text.find('/');
  const char* end = text.data() + text.size();
  int k = -1;
  int n = 0;
  if (slash == std::string::npos ||
      std::from_chars(text.data(), text.data() + slash, k).ptr != text.data() + slash ||
      std::from_chars(text.data() + slash + 1, end, n).ptr != end || n < 1 || k < 0 || k > n) {
    return "--shard takes K/N with N at least 1 and K from 1 to N (or 0 to N-1), e.g. 2/8";
  }
  shard = {k, n};
  return "";
}

}  // namespace mailvane::cli
