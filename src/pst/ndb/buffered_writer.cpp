#include "pst/ndb/buffered_writer.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "pst/ndb/crypt.h"
#include "pst/ndb/page.h"

namespace mailvane::pst::ndb {

BufferedWriter::BufferedWriter(FileIo& file, std::size_t capacity) : file_(file), capacity_(capacity) {}

BufferedWriter::~BufferedWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (syncer_.joinable()) syncer_.join();
}

void BufferedWriter::StartRoom(std::uint64_t offset, std::size_t size) {
  if (!filling_.empty() && (offset != filling_.end() || filling_.bytes.size() + size > capacity_)) {
    HandOff();
  }
  if (failed_) {
    std::lock_guard lock(mutex_);
    std::rethrow_exception(failure_);
  }
  if (filling_.empty()) filling_.start = offset;
}

void BufferedWriter::Write(std::uint64_t offset, std::span<const std::uint8_t> data) {
  StartRoom(offset, data.size());
  filling_.bytes.insert(filling_.bytes.end(), data.begin(), data.end());
}

void BufferedWriter::WriteBlock(std::uint64_t ib, std::span<const std::uint8_t> data, Bid bid,
                                CryptMethod crypt) {
  const std::size_t size = BlockSizeOnDisk(data.size());
  StartRoom(ib, size);
  const std::size_t at = filling_.bytes.size();
  filling_.bytes.insert(filling_.bytes.end(), data.begin(), data.end());
  filling_.bytes.resize(at + size);  // zeroed padding, and room for the trailer
  filling_.seals.push_back({at, static_cast<std::uint16_t>(data.size()), ib, bid, crypt});
}

namespace {

// Batches queued for the writing thread take at most this much memory: enough that the
// thread building the store rarely waits for a write, little enough to stay a small fixed
// cost. What counts is what each batch holds allocated, since a commit queues hundreds of
// single scattered pages.
constexpr std::size_t kMaxQueuedBytes = 1 << 20;

}  // namespace

bool BufferedWriter::Overlaps(std::uint64_t offset, std::size_t size) {
  auto overlaps = [&](const Batch& b) { return !b.empty() && offset < b.end() && b.start < offset + size; };
  if (overlaps(filling_)) return true;
  std::lock_guard lock(mutex_);
  return std::any_of(queued_.begin(), queued_.end(), overlaps);
}

void BufferedWriter::HandOff() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return failed_ || queued_bytes_ < kMaxQueuedBytes; });
  if (failed_) std::rethrow_exception(failure_);
  if (filling_.empty()) return;
  queued_bytes_ += filling_.bytes.capacity();
  queued_.push_back(std::move(filling_));
  filling_ = Batch{};
  if (!thread_.joinable()) thread_ = std::thread([this] { Work(); });
  lock.unlock();
  changed_.notify_all();
}

void BufferedWriter::Flush() {
  HandOff();
  std::unique_lock lock(mutex_);
  // A sync asked for is waited for too: a disk error it meets is reported to it alone,
  // and must not let a commit's flush after it pass.
  changed_.wait(lock, [this] { return queued_.empty() && !sync_wanted_ && !syncing_; });
  if (failed_) std::rethrow_exception(failure_);
}

void BufferedWriter::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queued_.empty() || stopping_; });
    if (stopping_) return;
    Batch& batch = queued_.front();  // a deque: stays in place while others are queued
    lock.unlock();
    std::exception_ptr failure;
    if (!failed_) {
      try {
        for (const Seal& s : batch.seals) {
          std::span<std::uint8_t> block(batch.bytes.data() + s.at, BlockSizeOnDisk(s.cb));
          EncodeBlockData(s.crypt, s.bid, block.first(s.cb));
          SealBlock(block, s.cb, s.ib, s.bid);
        }
        file_.WriteAt(batch.start, batch.bytes);
      } catch (...) {
        failure = std::current_exception();
      }
    }
    lock.lock();
    if (failure && !failure_) {
      failure_ = failure;
      failed_ = true;
    }
    if (!failed_) {
      unsynced_bytes_ += batch.bytes.size();
      if (unsynced_bytes_ >= kSyncEvery) {
        unsynced_bytes_ = 0;
        sync_wanted_ = true;
        if (!syncer_.joinable()) {
          try {
            syncer_ = std::thread([this] { SyncAhead(); });
          } catch (const std::system_error&) {
            // No thread to spare: the syncs ahead are only advice, as every commit's own
            // flush puts all of it on the disk. Raised here, it would end the program.
            sync_wanted_ = false;
          }
        }
      }
    }
    queued_bytes_ -= batch.bytes.capacity();
    queued_.pop_front();
    changed_.notify_all();
  }
}

void BufferedWriter::SyncAhead() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return sync_wanted_ || stopping_; });
    if (stopping_) return;
    sync_wanted_ = false;
    if (failed_) continue;
    syncing_ = true;
    lock.unlock();
    std::exception_ptr failure;
    try {
      file_.SyncData();
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    syncing_ = false;
    if (failure && !failure_) {
      failure_ = failure;
      failed_ = true;
    }
    changed_.notify_all();
  }
}

}  // namespace mailvane::pst::ndb
