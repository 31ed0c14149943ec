// One file of an export and the export itself, whether it lies in a folder or in an archive
// read as a stream: the file tests and the item steps see only this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "source/path_list.h"

namespace mailvane::source {

// Messages larger than this are parsed as they are read, through Stream().
inline constexpr std::size_t kMaxHeldBytes = 8u << 20;

// Reads content in pieces.
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  // Up to size bytes into buffer; 0 at the end. Raises when the content cannot be read.
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;
};

class ExportFile {
 public:
  virtual ~ExportFile() = default;

  // The path the file tests and the folder mirroring look at, "/"-separated and beginning
  // with "/": a folder's file gives its full path, an archive entry "/" + its path there.
  virtual const std::string& path() const = 0;
  // How status lines and the report name the file.
  virtual const std::string& shown() const = 0;
  virtual std::uint64_t size() const = 0;
  // Why a step may not read the file (a FIFO, a device, a link inside an archive), or "".
  virtual std::string NotReadable() const = 0;
  // The whole content, read at the first call. Raises when it cannot be read.
  virtual const std::string& Content() = 0;
  // The content in pieces; an archive entry can be streamed once, and not after Content().
  virtual std::unique_ptr<ByteReader> Stream() = 0;
  // The file on disk, for a folder's file; nullptr for an archive entry.
  virtual const std::string* DiskPath() const { return nullptr; }
  // The data file beside a record (the record's path without ".meta"), or nullptr when the
  // export holds none.
  virtual ExportFile* DataFile() = 0;
};

// Something the source met while reading that a report must name: a file, and why.
struct SourceProblem {
  std::string file;
  std::string reason;
};

class ExportSource {
 public:
  virtual ~ExportSource() = default;
  // The next file, or nullptr at the end (or where reading stopped: see StoppedBy). The
  // file stays valid until the next call.
  virtual ExportFile* Next() = 0;
  // Every file's path, when the source knows them before it is read (a folder); nullptr for
  // a stream.
  virtual const PathList* KnownPaths() const { return nullptr; }
  // How far reading has come, 0 to 100, when the whole size is known.
  virtual std::optional<int> Percent() const = 0;
  // Bytes read so far (of the compressed archive for an archive).
  virtual std::uint64_t BytesRead() const = 0;
  // Why reading stopped before the end, naming the place; "" when it read to the end.
  virtual std::string StoppedBy() const = 0;
  // What a report names the source by: the folder or the archive (or "standard input").
  virtual std::string Name() const = 0;
  // What went wrong since the last call and did not stop the reading.
  virtual std::vector<SourceProblem> TakeProblems() { return {}; }
};

}  // namespace mailvane::source
