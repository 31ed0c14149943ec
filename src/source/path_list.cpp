#include "source/path_list.h"

#include <mutex>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "source/spill_file.h"

namespace mailvane::source {

namespace {

// Paths per block, and how many packed bytes gather in memory before they go to the file.
constexpr std::size_t kPathsPerBlock = 64;
constexpr std::size_t kSpillBytes = 256 << 10;

void PutLength(std::string& out, std::size_t n) {
  while (n >= 0x80) {
    out += static_cast<char>(0x80 | (n & 0x7F));
    n >>= 7;
  }
  out += static_cast<char>(n);
}

std::size_t GetLength(std::string_view in, std::size_t& at) {
  std::size_t n = 0;
  for (int shift = 0; at < in.size(); shift += 7) {
    const auto byte = static_cast<unsigned char>(in[at++]);
    n |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return n;
  }
  throw std::runtime_error("a block of the file list is damaged");
}

}  // namespace

struct PathList::State {
  std::size_t count = 0;
  // Where each block starts in the packed bytes: those before spilled lie in the file,
  // the rest in pending (blocks never straddle the two).
  std::vector<std::uint64_t> block_starts;
  std::uint64_t spilled = 0;
  std::string pending;
  SpillFile file;
  std::string kept_because;

  // The last block read, unpacked; guarded, since workers read while the run does.
  mutable std::mutex mutex;
  mutable std::size_t cached_block = SIZE_MAX;
  mutable std::string cached_bytes;
  mutable std::vector<std::pair<std::size_t, std::size_t>> cached_paths;

  void Spill() {
    try {
      file.Append(pending.data(), pending.size());
      spilled += pending.size();
      pending.clear();
    } catch (const std::exception& e) {
      kept_because = e.what();  // the list stays whole, only in memory
    }
  }

  void Load(std::size_t block) const {
    cached_block = SIZE_MAX;  // until the block is whole again
    const std::uint64_t start = block_starts[block];
    const std::uint64_t end =
        block + 1 < block_starts.size() ? block_starts[block + 1] : spilled + pending.size();
    const auto length = static_cast<std::size_t>(end - start);
    if (start >= spilled) {
      cached_bytes.assign(pending, static_cast<std::size_t>(start - spilled), length);
    } else {
      cached_bytes.resize(length);
      file.ReadAt(start, cached_bytes.data(), length);
    }
    cached_paths.clear();
    for (std::size_t at = 0; at < cached_bytes.size();) {
      const std::size_t n = GetLength(cached_bytes, at);
      if (n > cached_bytes.size() - at) throw std::runtime_error("a block of the file list is damaged");
      cached_paths.emplace_back(at, n);
      at += n;
    }
    cached_block = block;
  }
};

PathList::PathList() : state_(std::make_unique<State>()) {}
PathList::~PathList() = default;
PathList::PathList(PathList&& other) noexcept : state_(std::move(other.state_)) {}
// A copy is a list of its own, in its own temporary file when it is long.
PathList::PathList(const PathList& other) : PathList() {
  for (std::size_t i = 0; i < other.size(); ++i) Append(other[i]);
}
PathList& PathList::operator=(const PathList& other) {
  if (this != &other) *this = PathList(other);
  return *this;
}
PathList& PathList::operator=(PathList&& other) noexcept {
  state_ = std::move(other.state_);
  return *this;
}

void PathList::Append(std::string_view path) {
  if (!state_) state_ = std::make_unique<State>();
  State& s = *state_;
  if (s.count % kPathsPerBlock == 0) {
    // A block boundary: the only place the packed bytes may go to the file.
    if (s.pending.size() >= kSpillBytes && s.kept_because.empty()) s.Spill();
    s.block_starts.push_back(s.spilled + s.pending.size());
  }
  PutLength(s.pending, path.size());
  s.pending.append(path);
  ++s.count;
  std::lock_guard lock(s.mutex);
  if (s.cached_block == s.block_starts.size() - 1) s.cached_block = SIZE_MAX;
}

std::size_t PathList::size() const { return state_ ? state_->count : 0; }

std::string PathList::operator[](std::size_t index) const {
  if (index >= size()) {
    throw std::out_of_range("file list: no path " + std::to_string(index) + " of " +
                            std::to_string(size()));
  }
  const State& s = *state_;
  std::lock_guard lock(s.mutex);
  const std::size_t block = index / kPathsPerBlock;
  if (s.cached_block != block) s.Load(block);
  const auto [at, length] = s.cached_paths.at(index % kPathsPerBlock);
  return s.cached_bytes.substr(at, length);
}

std::string PathList::KeptInMemoryBecause() const { return state_ ? state_->kept_because : ""; }

}  // namespace mailvane::source
