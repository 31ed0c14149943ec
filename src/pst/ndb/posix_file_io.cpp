// FileIo over a POSIX file descriptor.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "pst/ndb/file_io.h"

namespace mailvane::pst {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::filesystem::path& path) {
  throw std::system_error(errno, std::generic_category(), what + " " + path.string());
}

class PosixFile : public FileIo {
 public:
  PosixFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
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
             path_);
      }
      if (n == 0) {
        errno = EIO;
        Fail("unexpected end of file reading " + std::to_string(data.size()) +
                 " bytes at offset " + std::to_string(offset) + " of",
             path_);
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
             path_);
      }
      done += static_cast<std::size_t>(n);
    }
  }

  void Flush() override {
    if (::fsync(fd_) != 0) Fail("cannot flush", path_);
  }

  std::uint64_t Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) Fail("cannot get the size of", path_);
    return static_cast<std::uint64_t>(st.st_size);
  }

  void Truncate(std::uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) Fail("cannot resize", path_);
  }

 private:
  int fd_;
  std::filesystem::path path_;
};

FileIoWrapper& Wrapper() {
  static FileIoWrapper wrapper;
  return wrapper;
}

std::unique_ptr<FileIo> Wrapped(std::unique_ptr<FileIo> file) {
  return Wrapper() ? Wrapper()(std::move(file)) : std::move(file);
}

}  // namespace

void SetFileIoWrapper(FileIoWrapper wrapper) { Wrapper() = std::move(wrapper); }

std::unique_ptr<FileIo> CreatePosixFile(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot create", path);
  return Wrapped(std::make_unique<PosixFile>(fd, path));
}

UnnamedFile CreateUnnamedPosixFile(const std::filesystem::path& path) {
  std::filesystem::path dir = path.parent_path();
  if (dir.empty()) dir = ".";
  const int fd = ::open(dir.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0644);
  if (fd < 0) {
    // EISDIR / EOPNOTSUPP: the kernel or the file system has no unnamed files.
    if (errno == EISDIR || errno == EOPNOTSUPP || errno == EINVAL) {
      return UnnamedFile{CreatePosixFile(path), [] {}};
    }
    Fail("cannot create a new file in", dir);
  }
  auto publish = [fd, path, dir] {
    // linkat never replaces an existing name and does not follow a link planted there.
    // Without /proc, AT_EMPTY_PATH does the same for a privileged process.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      if (errno != ENOENT || ::access("/proc/self/fd", F_OK) == 0 ||
          ::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) != 0) {
        Fail("cannot create", path);
      }
    }
    // The new name must survive a crash as the file's data does.
    const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) Fail("cannot open the folder of", path);
    const int synced = ::fsync(dir_fd);
    const int err = errno;
    ::close(dir_fd);
    errno = err;
    if (synced != 0) Fail("cannot flush the folder of", path);
  };
  return UnnamedFile{Wrapped(std::make_unique<PosixFile>(fd, path)), std::move(publish)};
}

std::unique_ptr<FileIo> OpenPosixFile(const std::filesystem::path& path, bool writable) {
  int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) Fail(writable ? "cannot open for writing" : "cannot open", path);
  std::unique_ptr<FileIo> file = std::make_unique<PosixFile>(fd, path);
  return writable ? Wrapped(std::move(file)) : std::move(file);
}

}  // namespace mailvane::pst
