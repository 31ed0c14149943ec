// The mail store interface the conversion writes through: a session, its stores, their
// folders and items. The operations and numbers are those of a MAPI store library; every
// failed call raises (StoreError or std::system_error) with a message that says what
// failed and why.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/civil_time.h"
#include "base/file_time.h"
#include "pst/ltp/property_value.h"
#include "pst/messaging/default_folder.h"
#include "pst/messaging/named_property.h"
#include "source/export_file.h"

namespace mailvane::store {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Outlook's numbering of default folders (3 deleted items, 4 outbox, 5 sent mail, 6 inbox,
// 9 calendar, 10 contacts, 11 journal, 12 notes, 13 tasks, 16 drafts, 23 junk).
using DefaultFolder = pst::messaging::DefaultFolder;

// Outlook's numbering of item types.
enum class ItemType : int {
  kMessage = 0,
  kAppointment = 1,
  kContact = 2,
  kTask = 3,
  kNote = 5,
  kDistList = 7,
};

inline constexpr int kStoreFormatUnicode = 1;  // AddPSTStore's format argument
inline constexpr int kFolderTypeMail = 6;      // Folders.Add's type argument
inline constexpr int kImportRfc822 = 1024;     // Import's format argument

// A wall-clock date and time without a zone.
using LocalDateTime = base::CivilTime;

// A changed occurrence of a recurring appointment: its times as moments (UTC) and on the
// series' wall clock, and what it shows.
struct OccurrenceException {
  base::FileTime start = 0, end = 0, original_start = 0;
  base::FileTime start_wall = 0, end_wall = 0;
  std::string subject, location, body;
};

class Item {
 public:
  virtual ~Item() = default;
  // Properties set by the names of Outlook's object model ("FirstName", "Email1Address",
  // "Start", "Body", ...). An unknown name, or a name the item's kind does not have, raises.
  virtual void SetText(std::string_view name, std::string_view utf8) = 0;
  // A local date-time, stored as UTC in the system's local zone; the properties Outlook
  // keeps on the local wall clock (a task's dates, a contact's local birthday) keep it as is.
  virtual void SetDate(std::string_view name, const LocalDateTime& local) = 0;
  // A moment already in UTC (for values that carried their own zone).
  virtual void SetUtcTime(std::string_view name, base::FileTime utc) = 0;
  virtual void SetBool(std::string_view name, bool value) = 0;  // "AllDayEvent", ...
  virtual void SetInt(std::string_view name, int value) = 0;    // "BusyStatus", ...

  // An attachment holding bytes, shown under display_name.
  virtual void AddAttachment(std::vector<std::uint8_t> bytes, std::string_view display_name) = 0;
  virtual void AddPicture(const std::filesystem::path& file) = 0;  // a contact's picture
  // Fills a message from an RFC 822 / MIME file (format kImportRfc822).
  virtual void Import(const std::filesystem::path& file, int format) = 0;
  // The same from a message read once, in pieces (an archive entry); size is its length,
  // 0 when unknown.
  virtual void ImportStream(source::ByteReader& message, std::uint64_t size, int format) = 0;
  // What the last import could not take as it was (parts or headers left out or cut,
  // undecodable text): one sentence each, for the run report.
  virtual std::vector<std::string> ImportWarnings() const { return {}; }
  // One MAPI property by tag, saving the item when asked (HrSetOneProp).
  virtual void SetOneProp(pst::ltp::PropTag tag, const pst::ltp::PropValue& value, bool save) = 0;
  // A named property (MS-OXPROPS), for values the object model only composes (a series'
  // recurrence blob, its time zone).
  virtual void SetNamedProp(const pst::messaging::NamedProperty& name, const pst::ltp::PropValue& value) = 0;
  // A recipient, as Recipients.Add: type 1 to (required), 2 cc (optional), 3 bcc
  // (resource); response is the tracking status (0 none, 2 tentative, 3 accepted,
  // 4 declined, 5 not responded); the organizer of a meeting is also its sender.
  virtual void AddRecipient(std::string_view name, std::string_view address, int type,
                            int response, bool organizer) = 0;
  // Attaches a changed occurrence to a recurring appointment, as Outlook keeps it: a
  // hidden attached appointment (MS-OXOCAL 2.2.10.1.3).
  virtual void AddException(const OccurrenceException& exception) = 0;
  // Adds a member to a distribution list (DistListItem.AddMember) by its address.
  virtual void AddMember(std::string_view name, std::string_view address) = 0;
  virtual bool HasAttachments() const = 0;
  virtual void Save() = 0;
};

class Folder {
 public:
  virtual ~Folder() = default;
  virtual std::string Name() const = 0;
  virtual std::vector<std::unique_ptr<Folder>> Folders() = 0;
  // A sub-folder by name, or nullptr.
  virtual std::unique_ptr<Folder> SubFolder(std::string_view name) = 0;
  // Creates a sub-folder of a type numbered like the default folders (6 mail, 9 calendar,
  // 10 contacts, 12 notes, 13 tasks); a name already used under this folder raises.
  virtual std::unique_ptr<Folder> AddFolder(std::string_view name, int type) = 0;
  virtual std::unique_ptr<Item> AddItem(ItemType type) = 0;
};

class Store {
 public:
  virtual ~Store() = default;
  virtual std::string EntryID() const = 0;
  virtual std::string DisplayName() const = 0;
  // The store's file: the path AddPSTStore was given, or the free name it took instead.
  virtual std::filesystem::path FilePath() const = 0;
  virtual void ValidateIPMTree() = 0;
  virtual std::unique_ptr<Folder> GetDefaultFolder(DefaultFolder kind) = 0;
  virtual std::unique_ptr<Folder> IPMRootFolder() = 0;
  // Makes everything saved so far durable (a safe point of a long run).
  virtual void Commit() = 0;
  // The size of the store's file once `more` bytes more are written; 0 where unknown.
  virtual std::uint64_t SizeWith(std::uint64_t /*more*/) const { return 0; }
  // Why the store's file refused a write (disk full, I/O error, file removed), or "" while
  // it takes them. After a refusal the file holds what the last Commit made durable, and
  // every later save fails the same way.
  virtual std::string WriteFailure() const = 0;
};

class Session {
 public:
  virtual ~Session() = default;
  virtual void Logon() = 0;
  // A new Unicode PST at path (format kStoreFormatUnicode), opened under display_name.
  // When path is taken, the first free "stem (n).pst" instead: nothing is written over.
  virtual Store& AddPSTStore(const std::filesystem::path& path, int format,
                             std::string_view display_name) = 0;
  virtual Store& GetStoreFromID(std::string_view entry_id) = 0;
  // "\\" + display name + "\" + folder path.
  virtual std::unique_ptr<Folder> GetFolderFromPath(std::string_view path) = 0;
  // Commits and closes every store of the session.
  virtual void Logoff() = 0;
  // The message files the run will import, in order (those of `files` whose flag in
  // `messages` is set): a session may parse them ahead on `threads` worker threads (0:
  // none). `files` stays in place until the next call; nullptr stops it.
  virtual void ExpectImports(const source::PathList* /*files*/, std::vector<bool> /*messages*/,
                             unsigned /*threads*/) {}
  // Commits and closes one store and forgets it; the reference is invalid afterwards.
  virtual void RemoveStore(Store& store) {
    throw StoreError("RemoveStore: this session cannot close one store of " + store.DisplayName());
  }
};

// A session over our own PST engine.
std::unique_ptr<Session> CreatePstSession();

}  // namespace mailvane::store
