#include "pst/ltp/bth.h"

#include <stdexcept>
#include <string>

#include "base/little_endian.h"
#include "pst/ndb/format_error.h"

namespace mailvane::pst::ltp {
namespace {

bool ValidKeySize(std::size_t cb_key) {
  return cb_key == 2 || cb_key == 4 || cb_key == 8 || cb_key == 16;
}

// Fills the BTH header allocation: its type, the sizes, the index depth and the root.
void WriteBthHeader(HeapWriter& heap, ndb::Hid header, std::uint8_t cb_key, std::uint8_t cb_ent,
                    std::uint8_t levels, ndb::Hid root) {
  std::span<std::uint8_t> h = heap.At(header);
  if (h.size() != kBthHeaderSize) throw std::invalid_argument("BTH header allocation is not 8 bytes");
  h[0] = kBthType;
  h[1] = cb_key;
  h[2] = cb_ent;
  h[3] = levels;
  base::Put32(h, 4, root);
}

}  // namespace

int CompareBthKeys(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  for (std::size_t i = a.size(); i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

ndb::Hid WriteBth(HeapWriter& heap, std::uint8_t cb_key, std::uint8_t cb_ent,
             std::span<const std::uint8_t> records) {
  std::uint8_t blank[kBthHeaderSize] = {};
  ndb::Hid header = heap.Allocate(blank);
  WriteBthInto(heap, header, cb_key, cb_ent, records);
  return header;
}

BthAppender::BthAppender(std::uint8_t cb_key, std::uint8_t cb_ent) : cb_key_(cb_key), cb_ent_(cb_ent) {
  if (!ValidKeySize(cb_key) || cb_ent == 0 || cb_ent > 32) {
    throw std::invalid_argument("BTH with key size " + std::to_string(cb_key) + " and entry size " +
                                std::to_string(cb_ent));
  }
}

void BthAppender::Append(HeapWriter& heap, std::span<const std::uint8_t> record) {
  const std::size_t rec = std::size_t{cb_key_} + cb_ent_;
  if (record.size() != rec) throw std::invalid_argument("BTH record of the wrong size");
  if (count_ > 0) {
    // The last key is the last record's, in the partial leaf or in the newest full one.
    std::span<const std::uint8_t> last;
    if (!leaf_.empty()) {
      last = std::span<const std::uint8_t>(leaf_).subspan(leaf_.size() - rec, cb_key_);
    } else {
      last = last_full_key_;
    }
    if (CompareBthKeys(last, record.first(cb_key_)) >= 0) {
      throw std::invalid_argument("BTH keys must come in ascending order");
    }
  }
  leaf_.insert(leaf_.end(), record.begin(), record.end());
  ++count_;
  if (leaf_.size() / rec == kMaxHeapAllocation / rec) {
    last_full_key_.assign(record.begin(), record.begin() + cb_key_);
    AddChild(heap, 0, leaf_);
    leaf_.clear();
  }
}

void BthAppender::AddChild(HeapWriter& heap, std::size_t level, std::span<const std::uint8_t> node) {
  const ndb::Hid hid = heap.Allocate(node);
  if (index_.size() <= level) index_.resize(level + 1);
  std::vector<std::uint8_t>& entries = index_[level];
  entries.insert(entries.end(), node.begin(), node.begin() + cb_key_);
  base::Append32(entries, hid);
  const std::size_t idx_rec = std::size_t{cb_key_} + 4;
  if (entries.size() / idx_rec == kMaxHeapAllocation / idx_rec) {
    std::vector<std::uint8_t> full;
    full.swap(entries);
    AddChild(heap, level + 1, full);
  }
}

void BthAppender::Finish(HeapWriter& heap, ndb::Hid header) const {
  const std::size_t idx_rec = std::size_t{cb_key_} + 4;
  ndb::Hid root = 0;
  std::uint8_t levels = 0;
  // Each level's partial node joins the full nodes beside it one level up, until a
  // level holds a single node and nothing waits above it.
  std::vector<std::uint8_t> carry;  // (first key, HID) of the partial node just placed
  if (!leaf_.empty()) {
    carry.assign(leaf_.begin(), leaf_.begin() + cb_key_);
    base::Append32(carry, heap.Allocate(leaf_));
  }
  for (std::size_t level = 0;; ++level) {
    bool higher = false;
    for (std::size_t j = level + 1; j < index_.size(); ++j) higher = higher || !index_[j].empty();
    std::vector<std::uint8_t> entries = level < index_.size() ? index_[level] : std::vector<std::uint8_t>();
    entries.insert(entries.end(), carry.begin(), carry.end());
    carry.clear();
    if (entries.empty()) {
      if (!higher) break;
      continue;
    }
    if (entries.size() == idx_rec && !higher) {
      root = base::Get32(entries, cb_key_);
      levels = static_cast<std::uint8_t>(level);
      break;
    }
    carry.assign(entries.begin(), entries.begin() + cb_key_);
    base::Append32(carry, heap.Allocate(entries));
  }
  WriteBthHeader(heap, header, cb_key_, cb_ent_, levels, root);
}

void WriteBthInto(HeapWriter& heap, ndb::Hid header, std::uint8_t cb_key, std::uint8_t cb_ent,
                  std::span<const std::uint8_t> records) {
  if (!ValidKeySize(cb_key) || cb_ent == 0 || cb_ent > 32) {
    throw std::invalid_argument("BTH with key size " + std::to_string(cb_key) +
                                " and entry size " + std::to_string(cb_ent));
  }
  std::size_t rec = std::size_t{cb_key} + cb_ent;
  if (records.size() % rec != 0) {
    throw std::invalid_argument("BTH records are not a whole number of entries");
  }
  std::size_t count = records.size() / rec;
  for (std::size_t i = 1; i < count; ++i) {
    if (CompareBthKeys(records.subspan((i - 1) * rec, cb_key), records.subspan(i * rec, cb_key)) >= 0) {
      throw std::invalid_argument("BTH keys are not strictly ascending at record " +
                                  std::to_string(i));
    }
  }

  ndb::Hid root = 0;
  std::uint8_t levels = 0;
  if (count > 0) {
    // Leaves full to the allocation limit, then index levels over them until one remains.
    struct Child {
      std::span<const std::uint8_t> first_key;
      ndb::Hid hid;
    };
    std::vector<Child> level;
    std::size_t per_leaf = kMaxHeapAllocation / rec;
    for (std::size_t i = 0; i < count; i += per_leaf) {
      std::size_t n = std::min(per_leaf, count - i);
      level.push_back({records.subspan(i * rec, cb_key), heap.Allocate(records.subspan(i * rec, n * rec))});
    }
    std::size_t idx_rec = std::size_t{cb_key} + 4;
    std::size_t per_index = kMaxHeapAllocation / idx_rec;
    std::vector<std::uint8_t> buf;
    while (level.size() > 1) {
      if (levels == 255) throw std::length_error("BTH deeper than 255 index levels");
      std::vector<Child> upper;
      for (std::size_t i = 0; i < level.size(); i += per_index) {
        std::size_t n = std::min(per_index, level.size() - i);
        buf.clear();
        for (std::size_t k = i; k < i + n; ++k) {
          buf.insert(buf.end(), level[k].first_key.begin(), level[k].first_key.end());
          base::Append32(buf, level[k].hid);
        }
        upper.push_back({level[i].first_key, heap.Allocate(buf)});
      }
      level = std::move(upper);
      ++levels;
    }
    root = level[0].hid;
  }
  WriteBthHeader(heap, header, cb_key, cb_ent, levels, root);
}

BthReader::BthReader(const HeapReader& heap, ndb::Hid header) : heap_(heap) {
  std::span<const std::uint8_t> h = heap.Get(header);
  if (h.size() != kBthHeaderSize || h[0] != kBthType) {
    throw ndb::FormatError("heap allocation is not a BTH header (size " + std::to_string(h.size()) +
                      ", type " + std::to_string(h.empty() ? 0 : h[0]) + ")");
  }
  header_ = {h[1], h[2], h[3], base::Get32(h, 4)};
  if (!ValidKeySize(header_.cb_key) || header_.cb_ent == 0 || header_.cb_ent > 32) {
    throw ndb::FormatError("BTH header has key size " + std::to_string(header_.cb_key) +
                      " and entry size " + std::to_string(header_.cb_ent));
  }
}

void BthReader::ForEach(const std::function<void(std::span<const std::uint8_t>,
                                                 std::span<const std::uint8_t>)>& visit) const {
  if (header_.root == 0) return;
  const std::size_t cb_key = header_.cb_key;
  std::vector<std::uint8_t> last_key;
  // Depth-first walk; `depth` counts down to the leaves so that a cycle cannot recurse.
  std::function<void(ndb::Hid, std::size_t, std::span<const std::uint8_t>)> walk =
      [&](ndb::Hid hid, std::size_t depth, std::span<const std::uint8_t> expect_first) {
        std::span<const std::uint8_t> a = heap_.Get(hid);
        std::size_t rec = cb_key + (depth == 0 ? header_.cb_ent : 4);
        if (a.empty() || a.size() % rec != 0) {
          throw ndb::FormatError("BTH " + std::string(depth == 0 ? "leaf" : "index") +
                            " allocation of " + std::to_string(a.size()) +
                            " bytes is not a whole number of " + std::to_string(rec) +
                            "-byte records");
        }
        if (!expect_first.empty() && CompareBthKeys(a.first(cb_key), expect_first) != 0) {
          throw ndb::FormatError("BTH index key differs from the first key of its child");
        }
        for (std::size_t at = 0; at < a.size(); at += rec) {
          std::span<const std::uint8_t> key = a.subspan(at, cb_key);
          if (depth > 0) {
            walk(base::Get32(a, at + cb_key), depth - 1, key);
            continue;
          }
          if (!last_key.empty() && CompareBthKeys(last_key, key) >= 0) {
            throw ndb::FormatError("BTH keys are not strictly ascending");
          }
          last_key.assign(key.begin(), key.end());
          visit(key, a.subspan(at + cb_key, header_.cb_ent));
        }
      };
  walk(header_.root, header_.index_levels, {});
}

std::vector<std::uint8_t> BthReader::ReadAll() const {
  std::vector<std::uint8_t> out;
  ForEach([&](std::span<const std::uint8_t> key, std::span<const std::uint8_t> data) {
    out.insert(out.end(), key.begin(), key.end());
    out.insert(out.end(), data.begin(), data.end());
  });
  return out;
}

std::size_t BthReader::size() const {
  std::size_t n = 0;
  ForEach([&](std::span<const std::uint8_t>, std::span<const std::uint8_t>) { ++n; });
  return n;
}

}  // namespace mailvane::pst::ltp
