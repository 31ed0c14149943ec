// An export extracted into a folder: its files, listed beforehand, read from disk when a
// step asks for them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "source/export_file.h"
#include "source/path_list.h"

namespace mailvane::source {

class FolderFile : public ExportFile {
 public:
  explicit FolderFile(std::string path);

  const std::string& path() const override { return path_; }
  const std::string& shown() const override { return path_; }
  std::uint64_t size() const override;
  std::string NotReadable() const override;
  const std::string& Content() override;
  std::unique_ptr<ByteReader> Stream() override;
  const std::string* DiskPath() const override { return &path_; }
  ExportFile* DataFile() override;

 private:
  struct Examined {
    std::uint64_t size = 0;
    unsigned mode = 0;  // st_mode
    int error = 0;      // errno of a stat that failed
  };
  const Examined& Examine() const;

  std::string path_;
  mutable std::optional<Examined> examined_;
  std::optional<std::string> content_;
  std::unique_ptr<FolderFile> data_file_;
  bool data_file_looked_for_ = false;
};

class FolderSource : public ExportSource {
 public:
  // files: full paths, as the enumerator lists them, in place while this lives; name: the
  // folder, for the report.
  FolderSource(const PathList& files, std::string name);

  ExportFile* Next() override;
  const PathList* KnownPaths() const override { return &files_; }
  std::optional<int> Percent() const override;
  std::uint64_t BytesRead() const override { return 0; }
  std::string StoppedBy() const override { return stopped_; }
  std::string Name() const override { return name_; }

 private:
  const PathList& files_;
  std::string name_;
  std::size_t next_ = 0;
  std::string stopped_;
  std::unique_ptr<FolderFile> current_;
};

// The path of the data file beside a record: the path without its final ".meta" (in any
// case), spaces at both ends removed; "" when the name does not end so.
std::string DataFilePathOf(std::string_view record_path);

}  // namespace mailvane::source
