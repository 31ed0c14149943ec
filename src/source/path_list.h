// The paths of an export's files, in listing order. A server's mailbox can list millions of
// files, and the run needs them from the listing to its end: the paths wait in a nameless
// temporary file, packed a block at a time, and memory keeps only where each block starts.
// A small listing never leaves memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace mailvane::source {

class PathList {
 public:
  PathList();
  ~PathList();
  PathList(PathList&& other) noexcept;
  PathList(const PathList& other);
  PathList& operator=(const PathList& other);
  PathList& operator=(PathList&& other) noexcept;

  void Append(std::string_view path);
  std::size_t size() const;
  bool empty() const { return size() == 0; }
  // The path at index (< size()). Safe from several threads at once; raises
  // std::system_error when the temporary file cannot be read back.
  std::string operator[](std::size_t index) const;

  // Why the paths stay in memory although the list is long ("" when they do not): the
  // temporary file could not be made or written.
  std::string KeptInMemoryBecause() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace mailvane::source
