// The standard folders of a new store and how each is found again (MS-OXOSFLD). The
// numbers are those of the mail store's folder kinds (Outlook's own numbering).
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace mailvane::pst::messaging {

enum class DefaultFolder : int {
  kDeletedItems = 3,
  kOutbox = 4,
  kSentMail = 5,
  kInbox = 6,
  kCalendar = 9,
  kContacts = 10,
  kJournal = 11,
  kNotes = 12,
  kTasks = 13,
  kDrafts = 16,
  kJunk = 23,
};

struct DefaultFolderInfo {
  DefaultFolder kind;
  std::string_view name;             // English, as Outlook names them
  std::string_view container_class;  // PidTagContainerClass
};

// In the order they are created below the top of the folder tree.
std::span<const DefaultFolderInfo> DefaultFolders();
const DefaultFolderInfo& InfoOf(DefaultFolder kind);
std::optional<DefaultFolder> DefaultFolderFromNumber(int number);

}  // namespace mailvane::pst::messaging
