// Gathers writes to consecutive offsets into one write call (blocks are allocated one after
// the other, so a stream of blocks costs one system call per buffer, not one per block).
#pragma once

#include <algorithm>
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
    std::span<std::uint8_t> room = Append(offset, data.size());
    std::copy(data.begin(), data.end(), room.begin());
  }

  // Zeroed room for size bytes at offset, filled in place by the caller before the next
  // call: a block is encoded straight into the buffer instead of being built and copied.
  std::span<std::uint8_t> Append(std::uint64_t offset, std::size_t size) {
    if (!buffer_.empty() && (offset != start_ + buffer_.size() || buffer_.size() + size > capacity_)) {
      Flush();
    }
    if (buffer_.empty()) start_ = offset;
    buffer_.resize(buffer_.size() + size);
    return std::span(buffer_).last(size);
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
