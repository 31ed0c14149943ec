// An export inside a .tgz, .tar.gz, .tar or .zip archive (told apart by content), read once
// as a stream with libarchive and never extracted: entries are handed on as they come, and
// a record and its data file are paired whatever their order. No entry is ever written
// to the file system as a file; what waits for its partner beyond a few MB lies in a
// temporary file without a name until the partner comes.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "source/export_file.h"
#include "source/spill_file.h"
#include "source/stream_unpacker.h"

struct archive;
struct archive_entry;

namespace mailvane::source {

class ArchiveEntry;

// Records and the files they go with (data files, messages) waiting for their partner are
// held up to these bounds; past them the oldest is handed on alone (a record then has no
// data file). An archive made with tar from an extracted export lists each folder in the
// file system's order, so a message and its record may lie a whole folder apart.
inline constexpr std::size_t kMaxHeldEntries = 5000;
inline constexpr std::size_t kMaxHeldInMemoryBytes = 1u << 20;  // the rest in the spill file
inline constexpr std::size_t kMaxHeldTotalBytes = std::size_t{4} << 30;
inline constexpr std::size_t kMaxHeldInMemoryWithoutSpill = 64u << 20;  // when it failed
// An entry larger than this is not held: it is handed on when it comes.
inline constexpr std::size_t kMaxHeldEntryBytes = std::size_t{1} << 30;

// Raised when a file holds no archive at all (as opposed to a damaged one).
class NotAnArchive : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ArchiveSource : public ExportSource {
 public:
  // Whether the file at a path (as ExportFile::path gives it) is a record that takes a data
  // file: such records, and the files their data-file paths name, wait for each other.
  using NeedsDataFile = std::function<bool(std::string_view path)>;

  // Opens the archive at path, "-" for standard input, and reads its first header. Raises
  // std::system_error when it cannot be opened, NotAnArchive when it holds no archive we
  // read; an archive damaged from its start opens, and Next() then says where reading
  // stopped.
  ArchiveSource(const std::string& path, NeedsDataFile needs_data_file);
  ~ArchiveSource() override;
  ArchiveSource(const ArchiveSource&) = delete;
  ArchiveSource& operator=(const ArchiveSource&) = delete;

  ExportFile* Next() override;
  std::optional<int> Percent() const override;
  std::uint64_t BytesRead() const override { return raw_read_; }
  std::string StoppedBy() const override { return stopped_; }
  std::string Name() const override { return name_; }
  std::vector<SourceProblem> TakeProblems() override;

  // The archive file's size; 0 for standard input.
  std::uint64_t ArchiveSize() const { return total_; }

  // For the entry being read: its next bytes into buffer, 0 at its end. A failure stops the
  // reading (see StoppedBy) and raises.
  std::size_t ReadData(const std::string& entry, char* buffer, std::size_t size);

 private:
  void Open(const std::string& path);
  void Close();
  static long ReadRaw(struct archive*, void* self, const void** buffer);
  std::size_t ReadInput(char* buffer, std::size_t size);
  std::size_t ReadStream(char* buffer, std::size_t size);
  void ForEachByteAfterEnd(const std::function<void(const char*, std::size_t)>& take);
  std::string WhyTailIsBad();
  std::string Why() const;
  int NextHeader(struct archive_entry** entry);
  std::shared_ptr<ArchiveEntry> ReadEntry();
  void Stop(const std::string& why);
  void Finish();
  void Hold(std::shared_ptr<ArchiveEntry> entry, const std::string& key);
  void ReleaseOldest();
  void GoesAlone(const std::string& key, bool record);

  struct archive* archive_ = nullptr;
  int fd_ = -1;
  bool own_fd_ = false;
  std::string name_;
  std::uint64_t total_ = 0;
  std::uint64_t raw_read_ = 0;
  std::vector<char> input_;  // read from the file, not yet passed on
  std::size_t input_at_ = 0;
  std::size_t input_size_ = 0;
  bool input_ended_ = false;
  std::unique_ptr<StreamUnpacker> unpacker_;  // set when the file is compressed
  bool member_ended_ = false;
  int members_ = 0;         // compressed members begun
  bool member_made_ = false;  // the current member gave bytes
  std::string stream_error_;  // why the compressed stream failed
  std::vector<char> blocks_[2];  // what libarchive reads, in turn
  std::size_t block_size_[2] = {0, 0};
  int block_at_ = 1;
  std::uint64_t handed_ = 0;
  NeedsDataFile needs_data_file_;

  int first_header_ = 0;       // the result of the header read when opening,
  bool first_pending_ = true;  // still to be taken
  struct archive_entry* first_entry_ = nullptr;
  bool ended_ = false;
  std::string stopped_;
  std::string last_entry_;  // the last entry whose header was read
  std::vector<SourceProblem> problems_;

  SpillFile spill_;  // before the entries: they hold it until they are gone
  bool spill_failed_ = false;
  std::shared_ptr<ArchiveEntry> current_;
  std::deque<std::shared_ptr<ArchiveEntry>> ready_;
  std::list<std::pair<std::string, std::shared_ptr<ArchiveEntry>>> held_;  // key, entry
  std::unordered_map<std::string, decltype(held_)::iterator> held_by_key_;
  std::size_t held_bytes_ = 0;
  std::size_t held_memory_ = 0;
  // Keys of the last entries handed on without their partner; true for a record.
  std::deque<std::string> released_alone_;
  std::unordered_map<std::string, bool> released_alone_set_;
};

// The count label's text for an archive: its name and size ("mailbox.tgz (1.2 GB) Queued
// for Conversion."), as the number of files is known only once it is read; size 0: a stream.
std::string ArchiveQueuedText(const std::string& name, std::uint64_t size);

// The path of an archive entry as the tests see it: "/" + its names, "." and empty names
// dropped, a leading "/" taken as the archive's root. "" with why set when a ".." would
// climb out of the archive.
std::string EntryPath(std::string_view name, std::string& why);

}  // namespace mailvane::source
