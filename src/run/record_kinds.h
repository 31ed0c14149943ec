// Which kind of item each record of the export holds, read from the record itself (its
// Zimbra type), and which kind of Outlook folder each folder of the export becomes: a
// folder holding only appointments, only tasks or only contacts becomes a calendar, task
// or contact folder; any other a mail folder.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "run/file_tests.h"
#include "source/export_file.h"
#include "source/front_end.h"

namespace mailvane::run {

class RecordKinds {
 public:
  // Reads the type of every record that is not a message's (".eml.meta") among the first
  // file_count files.
  void Learn(const source::PathList& files, int file_count, source::FrontEnd& front_end);

  // The tests of a file: a record's type decides its kind when the record has one; the
  // path tests decide otherwise. From a stream, whose folders were not learned before, a
  // folder's record tells the kind of its folder ("vt", its default view).
  FileTests Tests(source::ExportFile& file, std::string_view logical);

  // The folder type (Folders.Add's numbering) of a store-side relative folder.
  int FolderTypeOf(const std::string& relative_folder) const;
  const std::map<std::string, int>& FolderTypes() const { return folder_types_; }

 private:
  bool learned_ = false;  // the folder types came from a listing before the run
  std::map<std::string, int> folder_types_;
};

// Whether a file name is a record that the type of its content may decide: ".meta" but not
// a message's.
bool IsTypedRecordName(std::string_view file_name);

}  // namespace mailvane::run
