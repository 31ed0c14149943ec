#include "run/file_tests.h"

#include <cctype>

#include "source/path_names.h"
#include "source/relative_folder.h"

namespace mailvane::run {

namespace {

// "\" + name + "\" in the platform's separator.
std::string Between(std::string_view name) {
  std::string s(1, source::kPathSeparator);
  s += name;
  s += source::kPathSeparator;
  return s;
}

bool Contains(std::string_view text, std::string_view what) {
  return text.find(what) != std::string_view::npos;
}

}  // namespace

bool EndsWithLower(std::string_view text, std::string_view ending) {
  if (text.size() < ending.size()) return false;
  std::string_view tail = text.substr(text.size() - ending.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(tail[i])) != ending[i]) return false;
  }
  return true;
}

FileTests TestFile(std::string_view path) {
  static const std::string kCalendar = Between("Calendar");
  static const std::string kTasks = Between("Tasks");
  static const std::string kNotebook = std::string(1, source::kPathSeparator) + "Notebook";
  const std::string name = source::FileNameOf(path);
  FileTests t;
  t.contact = Contains(path, "Contacts") && EndsWithLower(name, ".meta");
  t.calendar = Contains(path, kCalendar) && EndsWithLower(name, ".appt.meta");
  t.task = Contains(path, kTasks) && EndsWithLower(name, ".task.meta");
  t.note = Contains(path, kNotebook) && EndsWithLower(name, ".wiki.meta");
  t.message = EndsWithLower(name, "eml");
  return t;
}

bool TakesDataFile(std::string_view path) {
  const FileTests tests = TestFile(LogicalPath(path));
  return tests.calendar || tests.task || EndsWithLower(path, ".eml.meta");
}

std::string LogicalPath(std::string_view path) {
  // Most paths hold no "!": leave them exactly as they are.
  if (path.find('!') == std::string_view::npos) return std::string(path);
  std::string folder = source::WithoutSplitSuffixes(source::RelativeFolder(path));
  std::string logical(1, source::kPathSeparator);
  for (char c : folder) logical += c == source::kStoreSeparator ? source::kPathSeparator : c;
  if (!folder.empty()) logical += source::kPathSeparator;
  logical += source::FileNameOf(path);
  return logical;
}

}  // namespace mailvane::run
