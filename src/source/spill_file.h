// Bytes set aside while they wait for something, in a temporary file without a name: it
// never shows in the file system, nobody else can open it, and it goes with the process.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mailvane::source {

class SpillFile {
 public:
  SpillFile() = default;
  ~SpillFile();
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;

  // Adds bytes at the end (the file is made on first use, in the temporary folder) and
  // gives where they start. Raises std::system_error when they cannot be written.
  std::uint64_t Append(const char* bytes, std::size_t size);
  // Reads bytes written before; raises std::system_error when that fails.
  void ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const;

  // Whoever spilled bytes holds the file until it has read them; when nobody does any
  // more, the file is emptied, so it only ever holds what still waits.
  void Hold() { ++holders_; }
  void Release();

  std::uint64_t size() const { return size_; }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  int holders_ = 0;
};

}  // namespace mailvane::source
