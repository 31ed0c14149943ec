// Gathers writes to consecutive offsets into one write call (blocks are allocated one after
// the other, so a stream of blocks costs one system call per buffer, not one per block),
// and writes each full buffer on a thread of its own while the next one fills: encoding a
// block, its CRC and the copy into the kernel's cache are off the thread that builds the
// store. Reads go around it, so a read of bytes still gathered here waits for Flush first.
//
// Every few MB written, a third thread puts them on the disk while the writes go on. A
// commit's flush then waits for the last few MB only, instead of for everything since the
// commit before while the store waits. Making bytes durable earlier never breaks the order
// commits rely on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "pst/ndb/file_io.h"
#include "pst/ndb/ids.h"
#include "pst/ndb/node_database.h"

namespace mailvane::pst::ndb {

class BufferedWriter {
 public:
  explicit BufferedWriter(FileIo& file, std::size_t capacity = 256 * 1024);
  ~BufferedWriter();  // what was not flushed is dropped, as a crash would drop it
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;

  void Write(std::uint64_t offset, std::span<const std::uint8_t> data);
  // A block of data.size() bytes at ib, BlockSizeOnDisk of it: its data encoded with
  // `crypt` and its trailer sealed when its buffer is written.
  void WriteBlock(std::uint64_t ib, std::span<const std::uint8_t> data, Bid bid, CryptMethod crypt);

  // Whether bytes [offset, offset + size) of the file are among those not written yet.
  bool Overlaps(std::uint64_t offset, std::size_t size);

  // Returns once everything given so far is in the file. A write that failed on the
  // writing thread raises here and at every later call (Write and WriteBlock included):
  // the caller then refuses further changes, and the file keeps its last commit.
  void Flush();

 private:
  struct Seal {
    std::size_t at;  // in the batch
    std::uint16_t cb;
    std::uint64_t ib;
    Bid bid;
    CryptMethod crypt;
  };
  struct Batch {
    std::uint64_t start = 0;
    std::vector<std::uint8_t> bytes;
    std::vector<Seal> seals;
    bool empty() const { return bytes.empty(); }
    std::uint64_t end() const { return start + bytes.size(); }
  };

  // Makes the batch being filled the one for size bytes at offset (handing off the one
  // before when they cannot follow it); the caller then appends them.
  void StartRoom(std::uint64_t offset, std::size_t size);
  // Queues the batch being filled for the writing thread, first waiting while too much
  // is queued already.
  void HandOff();
  void Work();
  void SyncAhead();

  static constexpr std::uint64_t kSyncEvery = 4 << 20;

  FileIo& file_;
  const std::size_t capacity_;
  Batch filling_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_: batches to write, the front one being written, and the bytes they
  // hold allocated.
  std::deque<Batch> queued_;
  std::size_t queued_bytes_ = 0;
  bool stopping_ = false;
  std::exception_ptr failure_;
  std::atomic<bool> failed_{false};  // failure_ is set: seen without the lock
  std::uint64_t unsynced_bytes_ = 0;  // written since the last sync was asked for
  bool sync_wanted_ = false;
  bool syncing_ = false;
  std::thread thread_;  // started with the first hand-off
  std::thread syncer_;  // started by thread_ with the first sync, joined after it
};

}  // namespace mailvane::pst::ndb
