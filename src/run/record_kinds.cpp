#include "run/record_kinds.h"

#include <filesystem>
#include <optional>
#include <set>

#include "source/path_names.h"
#include "source/relative_folder.h"
#include "store/mail_store.h"
#include "zimbra/meta_tree.h"

namespace mailvane::run {

namespace {

constexpr int kMixed = -2;

// Folders.Add's folder type for a folder of items of that Zimbra type; 0 for none.
int FolderTypeForRecord(int zimbra_type) {
  switch (zimbra_type) {
    case zimbra::kZimbraAppointment: return static_cast<int>(store::DefaultFolder::kCalendar);
    case zimbra::kZimbraTask: return static_cast<int>(store::DefaultFolder::kTasks);
    case zimbra::kZimbraContact: return static_cast<int>(store::DefaultFolder::kContacts);
    default: return 0;
  }
}

}  // namespace

bool IsTypedRecordName(std::string_view file_name) {
  return EndsWithLower(file_name, ".meta") && !EndsWithLower(file_name, ".eml.meta");
}

void RecordKinds::Learn(const source::PathList& files, int file_count,
                        source::FrontEnd& front_end) {
  learned_ = true;
  folder_types_.clear();
  std::map<std::string, int> seen;  // folder -> the one item folder type seen, or kMixed
  for (int k = 0; k < file_count; ++k) {
    const std::string file = files[static_cast<std::size_t>(k)];
    const std::string logical = LogicalPath(file);
    int folder_type = static_cast<int>(store::kFolderTypeMail);
    std::error_code ec;
    if (IsTypedRecordName(source::FileNameOf(file)) && std::filesystem::is_regular_file(file, ec)) {
      front_end.Yield();
      const zimbra::ParsedMetaRecord record = zimbra::ReadMetaTree(file);
      const int type = record.tree ? record.tree->Type() : -1;
      folder_type = FolderTypeForRecord(type);
      if (folder_type == 0) continue;  // folders, tags, documents: no say in the folder's kind
    } else if (!EndsWithLower(source::FileNameOf(file), "eml")) {
      continue;
    }
    const std::string folder = source::WithoutSplitSuffixes(source::RelativeFolder(logical));
    auto [it, added] = seen.emplace(folder, folder_type);
    if (!added && it->second != folder_type) it->second = kMixed;
  }
  for (const auto& [folder, type] : seen) {
    if (type > 0 && type != store::kFolderTypeMail) folder_types_[folder] = type;
  }
}

FileTests RecordKinds::Tests(source::ExportFile& file, std::string_view logical) {
  FileTests tests = TestFile(logical);
  int type = -1;
  // Read again rather than kept from the listing's scan: a server's mailbox holds too many
  // records to keep a type for each, and the steps read the record's bytes anyway.
  if (IsTypedRecordName(source::FileNameOf(file.path())) && file.NotReadable().empty()) {
    std::optional<zimbra::ParsedMetaRecord> record;
    try {
      record = zimbra::ParseMetaRecord(file.Content());
    } catch (const std::exception&) {
      // Unreadable: the steps read it again and record why.
    }
    if (record && record->tree) {
      type = record->tree->Type();
      const auto view = record->tree->metadata.Number("vt");
      const int folder_type = view ? FolderTypeForRecord(static_cast<int>(*view)) : 0;
      const std::string name = record->tree->json.Text("name");
      if (!learned_ && type == zimbra::kZimbraFolder && folder_type != 0 && !name.empty()) {
        std::string folder = source::WithoutSplitSuffixes(source::RelativeFolder(std::string(logical)));
        folder_types_[folder.empty() ? name : folder + source::kStoreSeparator + name] = folder_type;
      }
    }
  }
  if (type < 0) return tests;
  tests.contact = type == zimbra::kZimbraContact;
  tests.calendar = type == zimbra::kZimbraAppointment;
  tests.task = type == zimbra::kZimbraTask;
  tests.note = type == zimbra::kZimbraWiki;
  return tests;
}

int RecordKinds::FolderTypeOf(const std::string& relative_folder) const {
  const auto it = folder_types_.find(relative_folder);
  return it == folder_types_.end() ? store::kFolderTypeMail : it->second;
}

}  // namespace mailvane::run
