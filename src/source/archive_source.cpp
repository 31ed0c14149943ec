#include "source/archive_source.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "source/folder_source.h"
#include "source/path_names.h"
#include "source/size_text.h"

namespace mailvane::source {

namespace {

constexpr std::size_t kRawBlock = 64u << 10;
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
      // Sized once from the header: growing by doubling would hold twice a large message.
      if (size_ > 0 && size_ <= (std::uint64_t{1} << 32)) bytes.reserve(static_cast<std::size_t>(size_));
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

  // Reads the whole content now, so the entry can wait for its partner; false (with the
  // reason kept for Content) when the archive could not be read.
  bool Load() {
    try {
      Content();
      return true;
    } catch (const std::exception& e) {
      read_failure_ = e.what();
      return false;
    }
  }
  void Detach() { source_ = nullptr; }
  std::size_t HeldBytes() const { return content_ ? content_->size() : 0; }
  void SetDataFile(std::shared_ptr<ArchiveEntry> data) { data_file_ = std::move(data); }
  bool IsRecordOf(const std::string& key) const { return path_ != key; }

 private:
  ArchiveSource* source_;
  std::string path_;
  std::string shown_;
  std::uint64_t size_;
  std::string not_readable_;
  std::optional<std::string> content_;
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
  // gzip is inflated here rather than by libarchive, which checks neither the trailer's CRC
  // nor what follows the tar end marker.
  while (input_size_ < 2) {
    const std::size_t n = ReadInput(input_.data() + input_size_, input_.size() - input_size_);
    if (n == 0) break;
    input_size_ += n;
  }
  if (input_size_ >= 2 && static_cast<unsigned char>(input_[0]) == 0x1f &&
      static_cast<unsigned char>(input_[1]) == 0x8b) {
    gzip_ = std::make_unique<z_stream>();
    if (inflateInit2(gzip_.get(), 15 + 16) != Z_OK) throw std::runtime_error("zlib could not start");
    gzip_->next_in = reinterpret_cast<Bytef*>(input_.data());
    gzip_->avail_in = static_cast<uInt>(input_size_);
    input_size_ = 0;
  }
  archive_ = archive_read_new();
  if (archive_ == nullptr) throw std::runtime_error("libarchive could not start");
  // Only formats and filters libarchive reads itself: no outside programs.
  archive_read_support_filter_gzip(archive_);
  archive_read_support_filter_bzip2(archive_);
  archive_read_support_filter_xz(archive_);
  archive_read_support_filter_zstd(archive_);
  archive_read_support_format_tar(archive_);
  archive_read_support_format_gnutar(archive_);
  archive_read_support_format_zip_streamable(archive_);
  if (archive_read_open(archive_, this, nullptr, &ArchiveSource::ReadRaw, nullptr) != ARCHIVE_OK) {
    const std::string why = archive_error_string(archive_) ? archive_error_string(archive_) : "";
    throw std::runtime_error(name_ + " is not an archive that can be read: " + why);
  }
  first_header_ = archive_read_next_header(archive_, &first_entry_);
  if (first_header_ != ARCHIVE_OK && first_header_ != ARCHIVE_WARN) {
    const char* why = archive_error_string(archive_);
    throw std::runtime_error(name_ + " is not a .tgz, .tar or .zip archive that can be read" +
                             (why ? std::string(": ") + why : std::string()));
  }
}

ArchiveSource::~ArchiveSource() {
  if (current_) current_->Detach();
  if (archive_ != nullptr) archive_read_free(archive_);
  if (gzip_) inflateEnd(gzip_.get());
  if (own_fd_) ::close(fd_);
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
  if (!gzip_) {
    if (input_size_ == 0) return ReadInput(buffer, size);
    const std::size_t n = std::min(size, input_size_);
    std::memcpy(buffer, input_.data() + input_at_, n);
    input_at_ += n;
    input_size_ -= n;
    return n;
  }
  if (!stream_error_.empty()) throw std::runtime_error(stream_error_);
  z_stream& z = *gzip_;
  for (;;) {
    if (z.avail_in == 0 && !input_ended_) {
      const std::size_t n = ReadInput(input_.data(), input_.size());
      input_ended_ = n == 0;
      z.next_in = reinterpret_cast<Bytef*>(input_.data());
      z.avail_in = static_cast<uInt>(n);
    }
    if (member_ended_) {
      // Zeros may pad the file; anything else must be a further gzip member.
      while (z.avail_in > 0 && *z.next_in == 0) {
        ++z.next_in;
        --z.avail_in;
      }
      if (z.avail_in == 0) {
        if (input_ended_) return 0;
        continue;
      }
      inflateReset(&z);
      member_ended_ = false;
    }
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = static_cast<uInt>(size);
    const int result = inflate(&z, Z_NO_FLUSH);
    const std::size_t made = size - z.avail_out;
    if (result == Z_STREAM_END) {
      member_ended_ = true;
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
      stream_error_ = std::string("the gzip data are damaged: ") + (z.msg ? z.msg : "inflate failed");
    } else if (made == 0 && z.avail_in == 0 && input_ended_) {
      stream_error_ = "the gzip data end early: the file is cut short";
    }
    // What was inflated before the damage is still passed on; the failure comes next time.
    if (made == 0 && !stream_error_.empty()) throw std::runtime_error(stream_error_);
    if (made > 0) return made;
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

std::string ArchiveSource::WhyTailIsBad() {
  try {
    // The bytes handed to libarchive that the tar reader did not use: the tail of the
    // last two blocks.
    std::uint64_t unused = handed_ - static_cast<std::uint64_t>(archive_filter_bytes(archive_, 0));
    for (int k = 0; k < 2 && unused > 0; ++k) {
      const int at = block_at_ ^ k;
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(unused, block_size_[at]));
      if (!AllZero(blocks_[at].data() + block_size_[at] - n, n)) return kBytesAfterEnd;
      unused -= n;
    }
    std::vector<char>& block = blocks_[block_at_];
    while (const std::size_t n = ReadStream(block.data(), block.size())) {
      if (!AllZero(block.data(), n)) return kBytesAfterEnd;
    }
    return {};
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
  if (first_header_ != 1) {
    *entry = first_entry_;
    return std::exchange(first_header_, 1);
  }
  return archive_read_next_header(archive_, entry);
}

std::shared_ptr<ArchiveEntry> ArchiveSource::ReadEntry() {
  for (;;) {
    struct archive_entry* entry = nullptr;
    const int result = NextHeader(&entry);
    if (result == ARCHIVE_EOF) {
      // Only a tar read straight from our stream can be checked to its end; zip is read
      // streaming and other compressions are undone inside libarchive.
      if ((archive_format(archive_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR &&
          archive_filter_code(archive_, 0) == ARCHIVE_FILTER_NONE) {
        if (const std::string why = WhyTailIsBad(); !why.empty()) {
          Stop("reading stopped at the end of the archive" +
               (last_entry_.empty() ? std::string() : ", after " + Quoted(last_entry_)) + ": " + why);
        }
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
    held_.erase(same->second);
    held_by_key_.erase(same);
  }
  held_bytes_ += entry->HeldBytes();
  held_.emplace_back(key, std::move(entry));
  held_by_key_[key] = std::prev(held_.end());
  while (held_.size() > kMaxHeldEntries || held_bytes_ > kMaxHeldTotalBytes) ReleaseOldest();
}

void ArchiveSource::ReleaseOldest() {
  auto& [key, entry] = held_.front();
  if (entry->IsRecordOf(key)) {
    // Its data file may still come; it will be reported then.
    released_alone_.push_back(key);
    released_alone_set_.insert(key);
    if (released_alone_.size() > kMaxHeldEntries) {
      released_alone_set_.erase(released_alone_.front());
      released_alone_.pop_front();
    }
  }
  held_bytes_ -= entry->HeldBytes();
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
    if ((!record && !data) || entry->size() > kMaxHeldEntryBytes) {
      current_ = std::move(entry);
      return current_.get();
    }
    const std::string key = record ? DataFilePathOf(path) : path;
    if (!entry->Load()) {
      Finish();  // the archive cannot be read on; Content() of the entry says why
      ready_.push_back(std::move(entry));
      continue;
    }
    auto partner = held_by_key_.find(key);
    if (partner != held_by_key_.end() && partner->second->second->IsRecordOf(key) != record) {
      std::shared_ptr<ArchiveEntry> other = partner->second->second;
      held_bytes_ -= other->HeldBytes();
      held_.erase(partner->second);
      held_by_key_.erase(partner);
      std::shared_ptr<ArchiveEntry>& the_record = record ? entry : other;
      std::shared_ptr<ArchiveEntry>& the_data = record ? other : entry;
      the_record->SetDataFile(the_data);
      ready_.push_back(the_record);
      ready_.push_back(the_data);
      continue;
    }
    if (data && released_alone_set_.count(key) != 0) {
      problems_.push_back({entry->shown(),
                           "this data file came too long after its record, which was "
                           "converted without it: the item has none of its attachments"});
      ready_.push_back(std::move(entry));
      continue;
    }
    Hold(std::move(entry), key);
  }
}

}  // namespace mailvane::source
