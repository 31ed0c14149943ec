#include "source/folder_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "source/path_names.h"

namespace mailvane::source {

namespace {

class FdReader : public ByteReader {
 public:
  explicit FdReader(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + path);
  }
  ~FdReader() override { ::close(fd_); }
  FdReader(const FdReader&) = delete;
  FdReader& operator=(const FdReader&) = delete;

  std::size_t Read(char* buffer, std::size_t size) override {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno != EINTR) {
        throw std::system_error(errno, std::generic_category(), "cannot read " + path_);
      }
    }
  }

 private:
  std::string path_;
  int fd_ = -1;
};

std::string_view TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string DataFilePathOf(std::string_view record_path) {
  const std::string_view path = TrimSpaces(record_path);
  constexpr std::string_view kMeta = ".meta";
  if (path.size() < kMeta.size()) return {};
  const std::string_view tail = path.substr(path.size() - kMeta.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] - 'A' + 'a') : tail[i];
    if (c != kMeta[i]) return {};
  }
  return std::string(path.substr(0, path.size() - kMeta.size()));
}

FolderFile::FolderFile(std::string path) : path_(std::move(path)) {}

// The run asks a file's size and kind several times while it converts it: the file is
// examined once.
const FolderFile::Examined& FolderFile::Examine() const {
  if (!examined_) {
    struct stat info {};
    Examined e;
    if (::stat(path_.c_str(), &info) == 0) {
      e.size = static_cast<std::uint64_t>(info.st_size);
      e.mode = info.st_mode;
    } else {
      e.error = errno;
    }
    examined_ = e;
  }
  return *examined_;
}

std::uint64_t FolderFile::size() const { return Examine().size; }

// Steps read only regular files: a FIFO would block the run, a device would never end.
std::string FolderFile::NotReadable() const {
  const Examined& e = Examine();
  if (e.error != 0) return "cannot examine the file: " + std::generic_category().message(e.error);
  if (S_ISREG(e.mode)) return {};
  if (S_ISFIFO(e.mode)) return "it is a FIFO, not a regular file; not opened";
  if (S_ISSOCK(e.mode)) return "it is a socket, not a regular file; not opened";
  if (S_ISBLK(e.mode) || S_ISCHR(e.mode)) return "it is a device, not a regular file; not opened";
  if (S_ISDIR(e.mode)) return "it is a folder, not a regular file";
  return "it is not a regular file; not opened";
}

const std::string& FolderFile::Content() {
  if (content_) return *content_;
  FdReader reader(path_);
  std::string bytes;
  char buffer[65536];
  while (const std::size_t n = reader.Read(buffer, sizeof buffer)) bytes.append(buffer, n);
  content_ = std::move(bytes);
  return *content_;
}

std::unique_ptr<ByteReader> FolderFile::Stream() { return std::make_unique<FdReader>(path_); }

ExportFile* FolderFile::DataFile() {
  if (!data_file_looked_for_) {
    data_file_looked_for_ = true;
    const std::string data = DataFilePathOf(path_);
    if (!data.empty() && FileExists(data)) data_file_ = std::make_unique<FolderFile>(data);
  }
  return data_file_.get();
}

FolderSource::FolderSource(const PathList& files, std::string name)
    : files_(files), name_(std::move(name)) {}

ExportFile* FolderSource::Next() {
  if (next_ >= files_.size()) {
    current_.reset();
    return nullptr;
  }
  try {
    current_ = std::make_unique<FolderFile>(files_[next_++]);
  } catch (const std::exception& e) {
    // The list's temporary file failed: the run stops here and says why, as for an archive.
    stopped_ = std::string("the list of the export's files could not be read back: ") + e.what();
    next_ = files_.size();
    current_.reset();
    return nullptr;
  }
  return current_.get();
}

std::optional<int> FolderSource::Percent() const {
  if (files_.empty()) return 100;
  return static_cast<int>(static_cast<double>(next_) / static_cast<double>(files_.size()) * 100.0);
}

}  // namespace mailvane::source
