// The archive source over any bytes: libarchive's readers behind it, entry paths, the
// pairing of records and data files. No entry path may climb out of the archive or hold an
// empty name, a record's data file must be the path without ".meta", and every readable
// entry's content reads or raises; nothing crashes or hangs.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "source/archive_source.h"
#include "source/folder_source.h"

using namespace mailvane;

namespace {

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

void CheckPath(const std::string& path) {
  if (path.empty() || path[0] != '/') fuzz::Fail("entry path not from the root: " + path);
  if (path.find("//") != std::string::npos || EndsWith(path, "/")) {
    fuzz::Fail("entry path with an empty name: " + path);
  }
  if (path.find("/../") != std::string::npos || EndsWith(path, "/..")) {
    fuzz::Fail("entry path climbs out: " + path);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path file = fuzz::ScratchFolder() / "input.tgz";
  fuzz::WriteBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    source::ArchiveSource archive(file.string(),
                                  [](std::string_view path) { return EndsWith(path, ".appt.meta"); });
    std::size_t count = 0;
    while (source::ExportFile* entry = archive.Next()) {
      if (++count > 100000) fuzz::Fail("more entries than the input could hold");
      CheckPath(entry->path());
      if (source::ExportFile* data_file = entry->DataFile()) {
        if (data_file->path() != source::DataFilePathOf(entry->path())) {
          fuzz::Fail("data file " + data_file->path() + " paired with " + entry->path());
        }
        (void)data_file->Content();
      }
      if (entry->NotReadable().empty()) {
        try {
          (void)entry->Content();
        } catch (const std::runtime_error&) {
          // A damaged entry: the source says where reading stopped.
        }
      }
    }
    (void)archive.TakeProblems();
  } catch (const std::runtime_error&) {
    // Not an archive at all.
  }
  return 0;
}
