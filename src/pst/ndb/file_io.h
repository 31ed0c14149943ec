// The one file interface the engine writes through, so that tests can make a write or a
// flush fail at a chosen moment. Every failure raises std::system_error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>

namespace mailvane::pst::ndb {

class FileIo {
 public:
  virtual ~FileIo() = default;
  // Reads exactly data.size() bytes at offset (short read past the end raises).
  virtual void ReadAt(std::uint64_t offset, std::span<std::uint8_t> data) = 0;
  virtual void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;
  virtual void Flush() = 0;  // data and metadata reach the disk (fsync)
  // The data written so far reaches the disk (fdatasync). Called on a thread of its own
  // while writes go on, so that Flush() finds little left to do; a file may do nothing.
  virtual void SyncData() {}
  virtual std::uint64_t Size() = 0;
  virtual void Truncate(std::uint64_t size) = 0;
};

// Creates a new file; never overwrites or follows a link (O_CREAT | O_EXCL | O_NOFOLLOW).
std::unique_ptr<FileIo> CreatePosixFile(const std::filesystem::path& path);
// Opens an existing file; read-only follows symbolic links, writable never does.
std::unique_ptr<FileIo> OpenPosixFile(const std::filesystem::path& path, bool writable);

// A new file that has no name until `publish` is called, so that a process killed while
// it is being set up leaves nothing behind. `publish` links it under path or, when that
// name is taken, under the first free NumberedName(path, 2, 3, ...), atomically: never over
// an existing name or link, so any number of writers can share one folder. It returns the
// name taken and raises std::system_error when it cannot link. On a file system without
// unnamed files the file is created under its (first free) name at once and `publish`
// returns that name.
struct UnnamedFile {
  std::unique_ptr<FileIo> file;
  std::function<std::filesystem::path()> publish;
};
UnnamedFile CreateUnnamedPosixFile(const std::filesystem::path& path);

// "dir/stem (n).ext" for "dir/stem.ext"; n < 2 gives path itself.
std::filesystem::path NumberedName(const std::filesystem::path& path, int n);

// Every file CreatePosixFile or a writable OpenPosixFile hands out goes through this
// wrapper first, when one is set: the seam through which tests make the k-th write or
// flush of a whole conversion fail. An empty wrapper (the default) removes it.
using FileIoWrapper = std::function<std::unique_ptr<FileIo>(std::unique_ptr<FileIo>)>;
void SetFileIoWrapper(FileIoWrapper wrapper);

}  // namespace mailvane::pst::ndb
