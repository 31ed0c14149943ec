// B-tree-on-heap (MS-PST 2.3.2): sorted fixed-size records in a heap, with index levels
// above the leaves when the records do not fit one allocation.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "pst/ltp/heap_on_node.h"

namespace mailvane::pst::ltp {

inline constexpr std::uint8_t kBthType = 0xB5;
inline constexpr std::size_t kBthHeaderSize = 8;

struct BthHeader {
  std::uint8_t cb_key = 0;
  std::uint8_t cb_ent = 0;
  std::uint8_t index_levels = 0;
  ndb::Hid root = 0;
};

// Writes `records` (each cb_key + cb_ent bytes, keys strictly ascending as unsigned
// little-endian numbers) under a BTHHEADER and returns the header's HID. Unsorted or
// duplicate keys raise std::invalid_argument.
ndb::Hid WriteBth(HeapWriter& heap, std::uint8_t cb_key, std::uint8_t cb_ent,
             std::span<const std::uint8_t> records);
// The same into an 8-byte header the caller allocated earlier (so that it gets a low HID).
void WriteBthInto(HeapWriter& heap, ndb::Hid header, std::uint8_t cb_key, std::uint8_t cb_ent,
                  std::span<const std::uint8_t> records);

// A BTH filled in key order over many writes (a table's row index as rows arrive): each
// leaf and index node goes into the heap once full, so that memory holds only the partial
// node of each level.
class BthAppender {
 public:
  BthAppender(std::uint8_t cb_key, std::uint8_t cb_ent);
  // A record of cb_key + cb_ent bytes whose key is above every earlier one; anything else
  // raises std::invalid_argument.
  void Append(HeapWriter& heap, std::span<const std::uint8_t> record);
  std::size_t size() const { return count_; }
  // Places the partial nodes and fills the 8-byte header allocated earlier. The appender
  // itself is unchanged: a caller that rolls the heap back to before this call goes on
  // appending.
  void Finish(HeapWriter& heap, ndb::Hid header) const;

 private:
  void AddChild(HeapWriter& heap, std::size_t level, std::span<const std::uint8_t> node);

  std::uint8_t cb_key_;
  std::uint8_t cb_ent_;
  std::vector<std::uint8_t> leaf_;                // records of the partial leaf
  std::vector<std::vector<std::uint8_t>> index_;  // per level: (first key, HID) of its full nodes
  std::vector<std::uint8_t> last_full_key_;
  std::size_t count_ = 0;
};

// Compares two keys of equal size as unsigned little-endian numbers.
int CompareBthKeys(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

class BthReader {
 public:
  // Reads the header; raises FormatError when it is not a valid BTHHEADER.
  BthReader(const HeapReader& heap, ndb::Hid header);

  const BthHeader& header() const { return header_; }
  // Visits every record in key order; checks record sizes, key order across the whole
  // tree, index keys against their children and the depth. A fault raises FormatError.
  void ForEach(const std::function<void(std::span<const std::uint8_t> key,
                                        std::span<const std::uint8_t> data)>& visit) const;
  // Every record, packed as written.
  std::vector<std::uint8_t> ReadAll() const;
  std::size_t size() const;

 private:
  const HeapReader& heap_;
  BthHeader header_;
};

}  // namespace mailvane::pst::ltp
