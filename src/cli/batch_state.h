// What a batch has done so far, kept in its target folder so that a later run (or another
// process of a sharded batch, on this machine or another) goes on from there:
//   mailvane-batch.state     one JSON record per mailbox, replaced whole on every change;
//   summary.csv, summary.jsonl  the finished mailboxes, rewritten from the state each time;
//   .mailvane-batch/         the locks and what each conversion leaves for the batch.
// Every change happens under one lock, so processes sharing the folder never lose another's
// record; a mailbox being converted is locked by the process converting it.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "cli/batch_record.h"

namespace mailvane::cli {

inline constexpr const char* kStateFileName = "mailvane-batch.state";
inline constexpr const char* kSummaryCsvName = "summary.csv";
inline constexpr const char* kSummaryJsonName = "summary.jsonl";
inline constexpr const char* kWorkFolderName = ".mailvane-batch";

using Records = std::map<std::string, MailboxRecord>;  // by .pst name

// A lock held on a file of the work folder, released when this goes (or the process dies).
class FileLock {
 public:
  FileLock() = default;
  FileLock(FileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileLock& operator=(FileLock&& other) noexcept;
  ~FileLock();
  bool Held() const { return fd_ >= 0; }

 private:
  friend class BatchState;
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

class BatchState {
 public:
  // Makes the target and work folders when missing; raises std::system_error.
  explicit BatchState(std::filesystem::path target);

  const std::filesystem::path& Target() const { return target_; }
  std::filesystem::path WorkFile(const std::string& name, const char* ending) const;

  // Reads the records, lets change alter them and, when it returns true, writes the state
  // and the summaries back, all under the batch lock. Raises std::system_error or
  // std::runtime_error (a state file that is no state) naming the file.
  void Update(const std::function<bool(Records&)>& change);
  Records Read();

  // The lock of one mailbox; not Held() when another process has it.
  FileLock TryLockMailbox(const std::string& name);

 private:
  FileLock LockFile(const std::filesystem::path& path, bool wait);
  Records Load() const;
  void Store(const Records& records) const;

  std::filesystem::path target_;
  std::filesystem::path work_;
};

}  // namespace mailvane::cli
