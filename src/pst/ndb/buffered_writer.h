// Gathers writes to consecutive offsets into one write call (blocks are allocated one after
// the other, so a stream of blocks costs one system call per buffer, not one per block).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "pst/ndb/file_io.h"

namespace mailvane::pst::ndb {

class BufferedWriter {
 public:
  explicit BufferedWriter(FileIo& file, std::size_t capacity = 256 * 1024)
      : file_(file), capacity_(capacity) {}

  void Write(std::uint64_t offset, std::span<const std::uint8_t> data) {
    if (!buffer_.empty() && (offset != start_ + buffer_.size() ||
                             buffer_.size() + data.size() > capacity_)) {
      Flush();
    }
    if (buffer_.empty()) start_ = offset;
    buffer_.insert(buffer_.end(), data.begin(), data.end());
  }

  // Writes out what is gathered; a failed write leaves it in the buffer and raises.
  void Flush() {
    if (buffer_.empty()) return;
    file_.WriteAt(start_, buffer_);
    buffer_.clear();
  }

 private:
  FileIo& file_;
  std::size_t capacity_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t start_ = 0;
};

}  // namespace mailvane::pst::ndb
