#include "source/spill_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

#include "source/temp_files.h"

namespace mailvane::source {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

int OpenNameless() {
  std::string why;
  const std::string folder = TempFolderPath(&why);
  if (folder.empty()) throw std::runtime_error("no temporary folder: " + why);
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // File systems without unnamed files: a private name, removed at once.
  std::string name = folder + "mailvane-spill-XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) Fail("cannot make a temporary file in " + folder);
  ::unlink(name.c_str());
  return fd;
}

}  // namespace

SpillFile::~SpillFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::uint64_t SpillFile::Append(const char* bytes, std::size_t size) {
  if (fd_ < 0) fd_ = OpenNameless();
  const std::uint64_t start = size_;
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, bytes, size, static_cast<off_t>(size_));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("cannot write to the temporary file");
    bytes += n;
    size -= static_cast<std::size_t>(n);
    size_ += static_cast<std::uint64_t>(n);
  }
  return start;
}

void SpillFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) const {
  while (size > 0) {
    const ssize_t n = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("cannot read the temporary file");
    if (n == 0) {
      errno = EIO;
      Fail("the temporary file ended early");
    }
    buffer += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
}

void SpillFile::Release() {
  if (--holders_ > 0 || fd_ < 0) return;
  // Nothing waits any more: the space goes back. A failure only keeps the space.
  if (::ftruncate(fd_, 0) == 0) size_ = 0;
}

}  // namespace mailvane::source
