// FileIo over a POSIX file descriptor.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <system_error>

#include "pst/ndb/file_io.h"

namespace mailvane::pst::ndb {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::filesystem::path& path) {
  throw std::system_error(errno, std::generic_category(), what + " " + path.string());
}

class PosixFile : public FileIo {
 public:
  // *name: the file's name, empty until an unnamed file is linked under one; path: the
  // name messages use until then.
  PosixFile(int fd, std::filesystem::path path, std::shared_ptr<std::filesystem::path> name)
      : fd_(fd), path_(std::move(path)), name_(std::move(name)) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  void ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) override {
    std::size_t done = 0;
    while (done < data.size()) {
      ssize_t n = ::pread(fd_, data.data() + done, data.size() - done,
                          static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail("cannot read " + std::to_string(data.size()) + " bytes at offset " +
                 std::to_string(offset) + " of",
             Path());
      }
      if (n == 0) {
        errno = EIO;
        Fail("unexpected end of file reading " + std::to_string(data.size()) +
                 " bytes at offset " + std::to_string(offset) + " of",
             Path());
      }
      done += static_cast<std::size_t>(n);
    }
  }

  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    std::size_t done = 0;
    while (done < data.size()) {
      ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done,
                           static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail("cannot write " + std::to_string(data.size()) + " bytes at offset " +
                 std::to_string(offset) + " of",
             Path());
      }
      done += static_cast<std::size_t>(n);
    }
  }

  void Flush() override {
    if (::fsync(fd_) != 0) Fail("cannot flush", Path());
    // Writes to a file whose last name was removed go nowhere anyone can find.
    struct stat st {};
    if (!name_->empty() && ::fstat(fd_, &st) == 0 && st.st_nlink == 0) {
      errno = ENOENT;
      Fail("the file was removed while being written:", *name_);
    }
  }

  void SyncData() override {
    if (::fdatasync(fd_) != 0) Fail("cannot flush", Path());
  }

  std::uint64_t Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) Fail("cannot get the size of", Path());
    return static_cast<std::uint64_t>(st.st_size);
  }

  void Truncate(std::uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) Fail("cannot resize", Path());
  }

 private:
  const std::filesystem::path& Path() const { return name_->empty() ? path_ : *name_; }

  int fd_;
  std::filesystem::path path_;
  std::shared_ptr<std::filesystem::path> name_;
};

std::unique_ptr<FileIo> Named(int fd, const std::filesystem::path& path) {
  return std::make_unique<PosixFile>(fd, path, std::make_shared<std::filesystem::path>(path));
}

FileIoWrapper& Wrapper() {
  static FileIoWrapper wrapper;
  return wrapper;
}

std::unique_ptr<FileIo> Wrapped(std::unique_ptr<FileIo> file) {
  return Wrapper() ? Wrapper()(std::move(file)) : std::move(file);
}

// A mailbox is private: only its owner may read the files written from it.
constexpr mode_t kFileMode = 0600;
// How many "name (n)" a new file tries before it gives up.
constexpr int kMaxNumberedNames = 10000;

int CreateExclusive(const std::filesystem::path& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
}

// Links the unnamed file fd under name; false when the name is taken.
bool LinkUnnamed(int fd, const std::filesystem::path& name) {
  // linkat never replaces an existing name and does not follow a link planted there.
  // Without /proc, AT_EMPTY_PATH does the same for a privileged process.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  int error = errno;
  if (error == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
    if (::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    error = errno;
  }
  if (error == EEXIST) return false;
  errno = error;
  Fail("cannot create", name);
}

void SyncFolderOf(const std::filesystem::path& path, const std::filesystem::path& dir) {
  const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) Fail("cannot open the folder of", path);
  const int synced = ::fsync(dir_fd);
  const int err = errno;
  ::close(dir_fd);
  errno = err;
  if (synced != 0) Fail("cannot flush the folder of", path);
}

}  // namespace

void SetFileIoWrapper(FileIoWrapper wrapper) { Wrapper() = std::move(wrapper); }

std::filesystem::path NumberedName(const std::filesystem::path& path, int n) {
  if (n < 2) return path;
  std::filesystem::path numbered = path;
  numbered.replace_filename(path.stem().string() + " (" + std::to_string(n) + ")" +
                            path.extension().string());
  return numbered;
}

std::unique_ptr<FileIo> CreatePosixFile(const std::filesystem::path& path) {
  int fd = CreateExclusive(path);
  if (fd < 0) Fail("cannot create", path);
  return Wrapped(Named(fd, path));
}

UnnamedFile CreateUnnamedPosixFile(const std::filesystem::path& path) {
  std::filesystem::path dir = path.parent_path();
  if (dir.empty()) dir = ".";
  const int fd = ::open(dir.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, kFileMode);
  if (fd < 0) {
    // EISDIR / EOPNOTSUPP: the kernel or the file system has no unnamed files.
    if (errno == EISDIR || errno == EOPNOTSUPP || errno == EINVAL) {
      for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const std::filesystem::path name = NumberedName(path, n);
        const int named = CreateExclusive(name);
        if (named >= 0) {
          return UnnamedFile{Wrapped(Named(named, name)), [name] { return name; }};
        }
        if (errno != EEXIST) Fail("cannot create", name);
      }
      errno = EEXIST;
      Fail("cannot create", path);
    }
    Fail("cannot create a new file in", dir);
  }
  auto named = std::make_shared<std::filesystem::path>();
  auto publish = [fd, path, dir, named] {
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
      const std::filesystem::path name = NumberedName(path, n);
      if (!LinkUnnamed(fd, name)) continue;
      // The new name must survive a crash as the file's data does.
      SyncFolderOf(name, dir);
      *named = name;
      return name;
    }
    errno = EEXIST;
    Fail("cannot create", path);
  };
  return UnnamedFile{Wrapped(std::make_unique<PosixFile>(fd, path, named)), std::move(publish)};
}

std::unique_ptr<FileIo> OpenPosixFile(const std::filesystem::path& path, bool writable) {
  // A reader follows a symbolic link as any reader does; a writer never writes through one.
  int fd = ::open(path.c_str(), (writable ? O_RDWR | O_NOFOLLOW : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) Fail(writable ? "cannot open for writing" : "cannot open", path);
  std::unique_ptr<FileIo> file = Named(fd, path);
  return writable ? Wrapped(std::move(file)) : std::move(file);
}

}  // namespace mailvane::pst::ndb
