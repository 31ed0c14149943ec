#include "cli/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace mailvane::cli {

namespace {

[[noreturn]] void Fail(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

}  // namespace

void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           mode_t mode) {
  // The process id keeps writers on other machines of a shared folder apart as long as
  // their callers hold the batch lock; O_EXCL refuses anything planted under the name.
  const std::string temp = path.string() + ".new." + std::to_string(::getpid());
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) Fail(errno, "cannot create " + temp);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      Fail(error, "cannot write " + temp);
    }
    done += static_cast<std::size_t>(n);
  }
  const int synced = ::fsync(fd) == 0 ? 0 : errno;
  const int closed = ::close(fd) == 0 ? 0 : errno;
  if (synced != 0 || closed != 0) {
    const int error = synced != 0 ? synced : closed;
    ::unlink(temp.c_str());
    Fail(error, "cannot write " + temp);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    Fail(error, "cannot replace " + path.string());
  }
  // The rename itself survives a power cut only once the folder is on disk.
  const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

}  // namespace mailvane::cli
