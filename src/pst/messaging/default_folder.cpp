#include "pst/messaging/default_folder.h"

#include <array>
#include <stdexcept>
#include <string>

namespace mailvane::pst::messaging {

namespace {
constexpr std::array<DefaultFolderInfo, 11> kFolders{{
    {DefaultFolder::kDeletedItems, "Deleted Items", "IPF.Note"},
    {DefaultFolder::kInbox, "Inbox", "IPF.Note"},
    {DefaultFolder::kOutbox, "Outbox", "IPF.Note"},
    {DefaultFolder::kSentMail, "Sent Items", "IPF.Note"},
    {DefaultFolder::kDrafts, "Drafts", "IPF.Note"},
    {DefaultFolder::kCalendar, "Calendar", "IPF.Appointment"},
    {DefaultFolder::kContacts, "Contacts", "IPF.Contact"},
    {DefaultFolder::kJournal, "Journal", "IPF.Journal"},
    {DefaultFolder::kNotes, "Notes", "IPF.StickyNote"},
    {DefaultFolder::kTasks, "Tasks", "IPF.Task"},
    {DefaultFolder::kJunk, "Junk E-mail", "IPF.Note"},
}};
}  // namespace

std::span<const DefaultFolderInfo> DefaultFolders() { return kFolders; }

const DefaultFolderInfo& InfoOf(DefaultFolder kind) {
  for (const auto& f : kFolders) {
    if (f.kind == kind) return f;
  }
  throw std::invalid_argument("unknown default folder kind " +
                              std::to_string(static_cast<int>(kind)));
}

std::optional<DefaultFolder> DefaultFolderFromNumber(int number) {
  for (const auto& f : kFolders) {
    if (static_cast<int>(f.kind) == number) return f.kind;
  }
  return std::nullopt;
}

}  // namespace mailvane::pst::messaging
