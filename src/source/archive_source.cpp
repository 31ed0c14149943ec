#include "source/archive_source.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "source/folder_source.h"
#include "source/path_names.h"
#include "source/size_text.h"
#include "source/spill_file.h"

namespace mailvane::source {

namespace {

constexpr std::size_t kRawBlock = 64u << 10;
constexpr std::size_t kTrimAfterBytes = 1u << 20;
constexpr const char* kBytesAfterEnd = "there are bytes after the end of the archive";

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

bool AllZero(const char* bytes, std::size_t size) {
  return std::all_of(bytes, bytes + size, [](char c) { return c == 0; });
}

std::string WhyNotRegular(struct archive_entry* e) {
  if (archive_entry_hardlink(e) != nullptr) {
    return "it is a hard link inside the archive; not followed";
  }
  switch (archive_entry_filetype(e)) {
    case AE_IFREG: return {};
    case AE_IFLNK: return "it is a symbolic link inside the archive; not followed";
    case AE_IFIFO: return "it is a FIFO inside the archive; not opened";
    case AE_IFCHR:
    case AE_IFBLK: return "it is a device inside the archive; not opened";
    case AE_IFSOCK: return "it is a socket inside the archive; not opened";
    default: return "it is not a regular file inside the archive; not opened";
  }
}

class StringReader : public ByteReader {
 public:
  explicit StringReader(const std::string& text) : text_(text) {}
  std::size_t Read(char* buffer, std::size_t size) override {
    const std::size_t n = std::min(size, text_.size() - at_);
    std::memcpy(buffer, text_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  const std::string& text_;
  std::size_t at_ = 0;
};

}  // namespace

// One entry: its content is either held (read when it came, for pairing) or streamed from
// the archive while it is the entry being read.
class ArchiveEntry : public ExportFile {
 public:
  ArchiveEntry(ArchiveSource* source, std::string path, std::string shown, std::uint64_t size,
               std::string not_readable)
      : source_(source),
        path_(std::move(path)),
        shown_(std::move(shown)),
        size_(size),
        not_readable_(std::move(not_readable)) {}

  const std::string& path() const override { return path_; }
  const std::string& shown() const override { return shown_; }
  std::uint64_t size() const override { return size_; }
  std::string NotReadable() const override { return not_readable_; }

  const std::string& Content() override {
    if (!content_) {
      if (!read_failure_.empty()) throw std::runtime_error(read_failure_);
      std::string bytes;
      // Sized once: growing by doubling would hold twice a large entry.
      if (loaded_) {
        bytes.reserve(held_size_);
      } else if (size_ > 0 && size_ <= (std::uint64_t{1} << 32)) {
        bytes.reserve(static_cast<std::size_t>(size_));
      }
      auto reader = Stream();
      char buffer[kRawBlock];
      while (const std::size_t n = reader->Read(buffer, sizeof buffer)) bytes.append(buffer, n);
      content_ = std::move(bytes);
    }
    return *content_;
  }

  std::unique_ptr<ByteReader> Stream() override {
    if (content_) return std::make_unique<StringReader>(*content_);
    if (!read_failure_.empty()) throw std::runtime_error(read_failure_);
    if (loaded_ && !streamed_) {
      // Held pieces are let go as they are read: the content is never in memory twice.
      streamed_ = true;
      class PiecesReader : public ByteReader {
       public:
        PiecesReader(std::deque<Piece>& pieces, const SpillFile* spill, std::size_t size)
            : pieces_(pieces), spill_(spill), size_(size) {}
        std::size_t Read(char* buffer, std::size_t size) override {
          while (!pieces_.empty() && at_ == pieces_.front().size()) {
            freed_ += pieces_.front().bytes.size();
            pieces_.pop_front();
            at_ = 0;
          }
          // Freed pieces lie between other allocations, where the allocator would keep
          // them while their copy grows: a large entry gives them back as it is read.
          if (freed_ >= kTrimAfterBytes || (pieces_.empty() && freed_ > 0 && size_ >= kTrimAfterBytes)) {
            malloc_trim(0);
            freed_ = 0;
          }
          if (pieces_.empty()) return 0;
          const Piece& piece = pieces_.front();
          const std::size_t n = std::min(size, piece.size() - at_);
          if (piece.spilled_size > 0) {
            spill_->ReadAt(piece.spilled_at + at_, buffer, n);
          } else {
            std::memcpy(buffer, piece.bytes.data() + at_, n);
          }
          at_ += n;
          return n;
        }

       private:
        std::deque<Piece>& pieces_;
        const SpillFile* spill_;
        std::size_t size_;
        std::size_t at_ = 0;
        std::size_t freed_ = 0;  // since the memory was last given back
      };
      return std::make_unique<PiecesReader>(pieces_, spill_, held_size_);
    }
    if (source_ == nullptr || streamed_) {
      throw std::logic_error("the archive has moved past " + shown_ + "; it can be read only once");
    }
    streamed_ = true;
    class EntryReader : public ByteReader {
     public:
      explicit EntryReader(ArchiveEntry& entry) : entry_(entry) {}
      std::size_t Read(char* buffer, std::size_t size) override {
        if (entry_.source_ == nullptr) {
          throw std::logic_error("the archive has moved past " + entry_.shown_);
        }
        return entry_.source_->ReadData(entry_.shown_, buffer, size);
      }

     private:
      ArchiveEntry& entry_;
    };
    return std::make_unique<EntryReader>(*this);
  }

  ExportFile* DataFile() override { return data_file_.get(); }

  ~ArchiveEntry() override {
    if (spill_ != nullptr) spill_->Release();
  }

  // Reads the whole content now, in pieces, so the entry can wait for its partner: up to
  // memory_room bytes in memory, the rest in spill (when given). False (with the reason
  // kept for Content) when the archive could not be read; spill_failure says why the
  // spill file refused bytes, which then stay in memory.
  bool Load(std::size_t memory_room, SpillFile* spill, std::string& spill_failure) {
    try {
      auto reader = Stream();
      char buffer[kRawBlock];
      while (const std::size_t n = reader->Read(buffer, sizeof buffer)) {
        held_size_ += n;
        if (spill != nullptr && held_in_memory_ + n > memory_room) {
          try {
            if (spill_ == nullptr) spill->Hold();
            spill_ = spill;
            pieces_.push_back({{}, spill->Append(buffer, n), n});
            continue;
          } catch (const std::exception& e) {
            spill_failure = e.what();
            spill = nullptr;
          }
        }
        held_in_memory_ += n;
        pieces_.push_back({std::string(buffer, n), 0, 0});
      }
      loaded_ = true;
      streamed_ = false;
      return true;
    } catch (const std::exception& e) {
      read_failure_ = e.what();
      return false;
    }
  }
  void Detach() { source_ = nullptr; }
  std::size_t HeldBytes() const { return held_size_; }
  std::size_t HeldInMemory() const { return held_in_memory_; }
  void SetDataFile(std::shared_ptr<ArchiveEntry> data) { data_file_ = std::move(data); }
  bool IsRecordOf(const std::string& key) const { return path_ != key; }

 private:
  ArchiveSource* source_;
  std::string path_;
  std::string shown_;
  std::uint64_t size_;
  std::string not_readable_;
  std::optional<std::string> content_;
  // A piece of the content while held: its bytes, or where the spill file keeps them.
  struct Piece {
    std::string bytes;
    std::uint64_t spilled_at = 0;
    std::size_t spilled_size = 0;
    std::size_t size() const { return spilled_size > 0 ? spilled_size : bytes.size(); }
  };
  std::deque<Piece> pieces_;  // the content while held, until read
  std::size_t held_size_ = 0;
  std::size_t held_in_memory_ = 0;
  SpillFile* spill_ = nullptr;  // held while some of the content lies there
  bool loaded_ = false;
  std::string read_failure_;
  bool streamed_ = false;
  std::shared_ptr<ArchiveEntry> data_file_;
};

std::string ArchiveQueuedText(const std::string& name, std::uint64_t size) {
  if (size == 0) return "Archive on " + name + " Queued for Conversion.";
  return name + " (" + SizeText(size) + ") Queued for Conversion.";
}

std::string EntryPath(std::string_view name, std::string& why) {
  std::string path;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view part = name.substr(start, end - start);
    if (part == "..") {
      why = "its path climbs out of the archive with \"..\"; not read";
      return {};
    }
    if (!part.empty() && part != ".") {
      path += kPathSeparator;
      path.append(part);
    }
    start = end + 1;
  }
  return path;
}

ArchiveSource::ArchiveSource(const std::string& path, NeedsDataFile needs_data_file)
    : input_(kRawBlock), needs_data_file_(std::move(needs_data_file)) {
  blocks_[0].resize(kRawBlock);
  blocks_[1].resize(kRawBlock);
  try {
    Open(path);
  } catch (...) {
    Close();  // no destructor runs for an object that was never made
    throw;
  }
}

void ArchiveSource::Close() {
  if (archive_ != nullptr) archive_read_free(archive_);
  archive_ = nullptr;
  if (own_fd_) ::close(fd_);
  own_fd_ = false;
}

void ArchiveSource::Open(const std::string& path) {
  if (path == "-") {
    fd_ = STDIN_FILENO;
    name_ = "standard input";
  } else {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + path);
    own_fd_ = true;
    name_ = FileNameOf(path);
    struct stat info {};
    if (::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
      total_ = static_cast<std::uint64_t>(info.st_size);
    }
  }
  // Compression is undone here, not by libarchive, so that what follows the compressed
  // stream and what follows the archive's end can be checked.
  while (input_size_ < 6) {
    const std::size_t n = ReadInput(input_.data() + input_size_, input_.size() - input_size_);
    if (n == 0) break;
    input_size_ += n;
  }
  unpacker_ = StreamUnpacker::For(std::string_view(input_.data(), input_size_));
  archive_ = archive_read_new();
  if (archive_ == nullptr) throw std::runtime_error("libarchive could not start");
  archive_read_support_format_tar(archive_);
  archive_read_support_format_gnutar(archive_);
  archive_read_support_format_zip_streamable(archive_);
  const bool opened = archive_read_open(archive_, this, nullptr, &ArchiveSource::ReadRaw, nullptr) == ARCHIVE_OK;
  if (opened) first_header_ = archive_read_next_header(archive_, &first_entry_);
  if (opened && (first_header_ == ARCHIVE_OK || first_header_ == ARCHIVE_WARN)) return;
  if (opened && first_header_ == ARCHIVE_EOF) {
    if (archive_format(archive_) == ARCHIVE_FORMAT_EMPTY) throw NotAnArchive(name_ + " is empty");
    return;
  }
  // A format libarchive knew, or compressed data that broke off, make a damaged archive:
  // converted as far as it reads. Anything else is no archive at all.
  if (archive_format(archive_) == 0 && stream_error_.empty()) {
    const char* why = archive_error_string(archive_);
    throw NotAnArchive(name_ + " is not a .tgz, .tar or .zip archive that can be read" +
                             (why ? std::string(": ") + why : std::string()));
  }
  first_header_ = ARCHIVE_FATAL;
  first_entry_ = nullptr;
}

ArchiveSource::~ArchiveSource() {
  if (current_) current_->Detach();
  Close();
}

std::size_t ArchiveSource::ReadInput(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) {
      raw_read_ += static_cast<std::uint64_t>(n);
      return static_cast<std::size_t>(n);
    }
    if (errno != EINTR) throw std::runtime_error("cannot read " + name_ + ": " + std::strerror(errno));
  }
}

std::size_t ArchiveSource::ReadStream(char* buffer, std::size_t size) {
  if (!unpacker_) {
    if (input_size_ == 0) return ReadInput(buffer, size);
    const std::size_t n = std::min(size, input_size_);
    std::memcpy(buffer, input_.data() + input_at_, n);
    input_at_ += n;
    input_size_ -= n;
    return n;
  }
  if (!stream_error_.empty()) throw std::runtime_error(stream_error_);
  const std::string kind = unpacker_->Name();
  for (;;) {
    if (input_size_ == 0 && !input_ended_) {
      input_size_ = ReadInput(input_.data(), input_.size());
      input_at_ = 0;
      input_ended_ = input_size_ == 0;
    }
    if (member_ended_) {
      // Zeros may pad the file; anything else must be a further member.
      while (input_size_ > 0 && input_[input_at_] == 0) {
        ++input_at_;
        --input_size_;
      }
      if (input_size_ == 0) {
        if (input_ended_) return 0;
        continue;
      }
      unpacker_->Restart();
      member_ended_ = false;
      member_made_ = false;
      ++members_;
    }
    const StreamUnpacker::Step step =
        unpacker_->Unpack(input_.data() + input_at_, input_size_, buffer, size);
    input_at_ += step.used;
    input_size_ -= step.used;
    member_made_ = member_made_ || step.made > 0;
    if (step.member_ended) {
      member_ended_ = true;
    } else if (!step.error.empty() && members_ > 0 && !member_made_) {
      // After a whole member, bytes that do not begin another one.
      stream_error_ = kBytesAfterEnd;
    } else if (!step.error.empty()) {
      stream_error_ = "the " + kind + " data are damaged: " + step.error;
    } else if (step.made == 0 && input_size_ == 0 && input_ended_) {
      stream_error_ = "the " + kind + " data end early: the file is cut short";
    } else if (step.made == 0 && step.used == 0 && input_size_ > 0) {
      stream_error_ = "the " + kind + " data are damaged: they cannot be unpacked further";
    }
    // What was unpacked before the damage is still passed on; the failure comes next time.
    if (step.made == 0 && !stream_error_.empty()) throw std::runtime_error(stream_error_);
    if (step.made > 0) return step.made;
  }
}

long ArchiveSource::ReadRaw(struct archive* a, void* self, const void** buffer) {
  auto* source = static_cast<ArchiveSource*>(self);
  // Two blocks in turn: after the end marker the bytes libarchive was given but did not use
  // are still here to check.
  source->block_at_ ^= 1;
  std::vector<char>& block = source->blocks_[source->block_at_];
  try {
    const std::size_t n = source->ReadStream(block.data(), block.size());
    source->block_size_[source->block_at_] = n;
    source->handed_ += n;
    *buffer = block.data();
    return static_cast<long>(n);
  } catch (const std::exception& e) {
    source->block_size_[source->block_at_] = 0;
    archive_set_error(a, EIO, "%s", e.what());
    return -1;
  }
}

std::string ArchiveSource::Why() const {
  // When our stream failed, libarchive's own message only says its input ended.
  if (!stream_error_.empty()) return stream_error_;
  const char* why = archive_error_string(archive_);
  return why ? why : "unknown error";
}

void ArchiveSource::ForEachByteAfterEnd(const std::function<void(const char*, std::size_t)>& take) {
  // First the bytes handed to libarchive that its reader did not use, in the last two
  // blocks, then the rest of the stream.
  std::uint64_t unused = handed_ - static_cast<std::uint64_t>(archive_filter_bytes(archive_, 0));
  const int last = block_at_;
  const int before = last ^ 1;
  const std::size_t in_last = static_cast<std::size_t>(std::min<std::uint64_t>(unused, block_size_[last]));
  const std::size_t in_before = static_cast<std::size_t>(
      std::min<std::uint64_t>(unused - in_last, block_size_[before]));
  take(blocks_[before].data() + block_size_[before] - in_before, in_before);
  take(blocks_[last].data() + block_size_[last] - in_last, in_last);
  std::vector<char>& block = blocks_[last];
  while (const std::size_t n = ReadStream(block.data(), block.size())) take(block.data(), n);
}

std::string ArchiveSource::WhyTailIsBad() {
  try {
    if ((archive_format(archive_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP) {
      // After the entries come the central directory and the end record, whose comment
      // may be up to 65,535 bytes long; nothing may follow that record.
      constexpr std::size_t kEndRecord = 22;
      constexpr std::size_t kKeep = kEndRecord + 0xFFFF;
      std::string tail;
      ForEachByteAfterEnd([&](const char* bytes, std::size_t n) {
        tail.append(bytes, n);
        if (tail.size() > 2 * kKeep) tail.erase(0, tail.size() - kKeep);
      });
      for (std::size_t at = tail.size(); at > 0;) {
        at = tail.rfind("PK\x05\x06", at - 1);
        if (at == std::string::npos) break;
        if (at + kEndRecord > tail.size()) continue;
        const std::size_t comment = static_cast<unsigned char>(tail[at + 20]) |
                                    static_cast<std::size_t>(static_cast<unsigned char>(tail[at + 21])) << 8;
        if (at + kEndRecord + comment == tail.size()) return {};
      }
      return kBytesAfterEnd;
    }
    bool zeros = true;
    ForEachByteAfterEnd([&](const char* bytes, std::size_t n) { zeros = zeros && AllZero(bytes, n); });
    return zeros ? std::string() : kBytesAfterEnd;
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::optional<int> ArchiveSource::Percent() const {
  if (total_ == 0) return std::nullopt;
  const std::uint64_t done = std::min(raw_read_, total_);
  return static_cast<int>(done * 100 / total_);
}

std::vector<SourceProblem> ArchiveSource::TakeProblems() { return std::exchange(problems_, {}); }

void ArchiveSource::Stop(const std::string& why) {
  if (stopped_.empty()) stopped_ = why;
  ended_ = true;
}

void ArchiveSource::Finish() {
  ended_ = true;
  while (!held_.empty()) ReleaseOldest();
}

std::size_t ArchiveSource::ReadData(const std::string& entry, char* buffer, std::size_t size) {
  if (ended_) throw std::runtime_error("reading of the archive stopped before " + entry);
  const la_ssize_t n = archive_read_data(archive_, buffer, size);
  if (n >= 0) return static_cast<std::size_t>(n);
  const std::string reason = Why();
  Stop("reading stopped in " + Quoted(entry) + ": " + reason);
  throw std::runtime_error("cannot read " + entry + " from the archive: " + reason);
}

int ArchiveSource::NextHeader(struct archive_entry** entry) {
  if (std::exchange(first_pending_, false)) {
    *entry = first_entry_;
    return first_header_;
  }
  return archive_read_next_header(archive_, entry);
}

std::shared_ptr<ArchiveEntry> ArchiveSource::ReadEntry() {
  for (;;) {
    struct archive_entry* entry = nullptr;
    const int result = NextHeader(&entry);
    if (result == ARCHIVE_EOF) {
      if (const std::string why = WhyTailIsBad(); !why.empty()) {
        Stop("reading stopped at the end of the archive" +
             (last_entry_.empty() ? std::string() : ", after " + Quoted(last_entry_)) + ": " + why);
      }
      Finish();
      return nullptr;
    }
    // A damaged header (ARCHIVE_RETRY) ends the reading too: what follows it is not trusted.
    if (result != ARCHIVE_OK && result != ARCHIVE_WARN) {
      Stop("reading stopped " +
           (last_entry_.empty() ? std::string("at the start of the archive")
                                : "after " + Quoted(last_entry_)) +
           ": " + Why());
      Finish();
      return nullptr;
    }
    const char* raw = archive_entry_pathname(entry);
    const std::string name = raw ? raw : "";
    last_entry_ = name;
    if (result == ARCHIVE_WARN) {
      const char* why = archive_error_string(archive_);
      problems_.push_back({name, why ? why : "libarchive warned"});
    }
    if (archive_entry_filetype(entry) == AE_IFDIR) continue;
    std::string why;
    std::string path = EntryPath(name, why);
    if (path.empty() && why.empty()) continue;  // "." or "/"
    if (why.empty()) why = WhyNotRegular(entry);
    const std::uint64_t size =
        archive_entry_size_is_set(entry) ? static_cast<std::uint64_t>(archive_entry_size(entry)) : 0;
    // A refused path still gets a place: the report names the entry by its own name.
    std::string shown = path.empty() ? name : path.substr(1);
    if (path.empty()) path = std::string(1, kPathSeparator) + FileNameOf(name);
    return std::make_shared<ArchiveEntry>(this, std::move(path), std::move(shown), size,
                                          std::move(why));
  }
}

void ArchiveSource::Hold(std::shared_ptr<ArchiveEntry> entry, const std::string& key) {
  if (auto same = held_by_key_.find(key);
      same != held_by_key_.end() && same->second->second->path() == entry->path()) {
    // A second entry of the same path: the first goes on alone.
    ready_.push_back(same->second->second);
    held_bytes_ -= same->second->second->HeldBytes();
    held_memory_ -= same->second->second->HeldInMemory();
    held_.erase(same->second);
    held_by_key_.erase(same);
  }
  held_bytes_ += entry->HeldBytes();
  held_memory_ += entry->HeldInMemory();
  held_.emplace_back(key, std::move(entry));
  held_by_key_[key] = std::prev(held_.end());
  const std::size_t most = spill_failed_ ? kMaxHeldInMemoryWithoutSpill : kMaxHeldTotalBytes;
  while (held_.size() > kMaxHeldEntries || held_bytes_ > most) ReleaseOldest();
}

void ArchiveSource::GoesAlone(const std::string& key, bool record) {
  // Its partner may still come; it will be reported then.
  if (!released_alone_set_.emplace(key, record).second) return;
  released_alone_.push_back(key);
  if (released_alone_.size() > kMaxHeldEntries) {
    released_alone_set_.erase(released_alone_.front());
    released_alone_.pop_front();
  }
}

void ArchiveSource::ReleaseOldest() {
  auto& [key, entry] = held_.front();
  GoesAlone(key, entry->IsRecordOf(key));
  held_bytes_ -= entry->HeldBytes();
  held_memory_ -= entry->HeldInMemory();
  ready_.push_back(entry);
  held_by_key_.erase(key);
  held_.pop_front();
}

ExportFile* ArchiveSource::Next() {
  if (current_) current_->Detach();
  current_.reset();
  for (;;) {
    if (!ready_.empty()) {
      current_ = std::move(ready_.front());
      ready_.pop_front();
      return current_.get();
    }
    if (ended_) return nullptr;
    std::shared_ptr<ArchiveEntry> entry = ReadEntry();
    if (entry == nullptr) continue;
    const std::string& path = entry->path();
    const bool record = entry->NotReadable().empty() && needs_data_file_ && needs_data_file_(path);
    const bool data = !record && entry->NotReadable().empty() && needs_data_file_ &&
                      needs_data_file_(path + ".meta");
    if (!record && !data) {
      current_ = std::move(entry);
      return current_.get();
    }
    const std::string key = record ? DataFilePathOf(path) : path;
    if (entry->size() > kMaxHeldEntryBytes) {
      GoesAlone(key, record);
      current_ = std::move(entry);
      return current_.get();
    }
    std::string spill_failure;
    const std::size_t room = kMaxHeldInMemoryBytes - std::min(held_memory_, kMaxHeldInMemoryBytes);
    const bool loaded = entry->Load(room, spill_failed_ ? nullptr : &spill_, spill_failure);
    if (!spill_failure.empty()) {
      spill_failed_ = true;
      problems_.push_back({entry->shown(), "files that wait for their partner are kept in memory from "
                                           "here on: the temporary file refused them (" + spill_failure + ")"});
    }
    if (!loaded) {
      Finish();  // the archive cannot be read on; Content() of the entry says why
      ready_.push_back(std::move(entry));
      continue;
    }
    auto partner = held_by_key_.find(key);
    if (partner != held_by_key_.end() && partner->second->second->IsRecordOf(key) != record) {
      std::shared_ptr<ArchiveEntry> other = partner->second->second;
      held_bytes_ -= other->HeldBytes();
      held_memory_ -= other->HeldInMemory();
      held_.erase(partner->second);
      held_by_key_.erase(partner);
      std::shared_ptr<ArchiveEntry>& the_record = record ? entry : other;
      std::shared_ptr<ArchiveEntry>& the_data = record ? other : entry;
      the_record->SetDataFile(the_data);
      ready_.push_back(the_record);
      ready_.push_back(the_data);
      continue;
    }
    if (auto alone = released_alone_set_.find(key);
        alone != released_alone_set_.end() && alone->second != record) {
      problems_.push_back({entry->shown(),
                           record ? "this record came too long after the file it goes with, which "
                                    "was converted without it: its flags, tags or attachments are "
                                    "missing"
                                  : "this data file came too long after its record, which was "
                                    "converted without it: the item has none of its attachments"});
      ready_.push_back(std::move(entry));
      continue;
    }
    Hold(std::move(entry), key);
  }
}

}  // namespace mailvane::source
