// The message step of a run, ImportMessageFile: one .eml file becomes one message in the
// store folder that stands for the file's folder.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "run/message_marks.h"
#include "run/run_report.h"
#include "source/export_file.h"
#include "source/front_end.h"
#include "store/mail_store.h"

namespace mailvane::run {

// Where the routing rows send a message.
struct MessageRoute {
  // kSpecialFolder: a relative folder below an export's Drafts, Trash or Junk, which the
  // store's Drafts, Deleted Items or Junk E-mail stand for (see OpenMirroredFolder).
  enum class Target { kDefaultInbox, kDefaultSent, kFolderPath, kSpecialFolder, kNone };
  Target target = Target::kNone;
  std::string folder_path;  // below the store's top, for kFolderPath; rel for kSpecialFolder
  bool operator==(const MessageRoute&) const = default;
};

// The first matching row for a message at logical_path whose relative folder is rel:
// its folder's end "/inbox/" -> the store's inbox; "/Inbox" elsewhere -> "Inbox" + the text
// after rel's first "\Inbox" (kNone when rel has none); "/Sent" -> the store's sent mail;
// a folder Drafts, Trash or Junk in rel -> below the store's folder of that kind; any other
// -> the folder at rel.
MessageRoute RouteMessage(std::string_view logical_path, std::string_view rel);

// What the message step works with; one per run. It keeps the last folder it used, since
// the files of one folder come one after another.
struct MessageContext {
  MessageContext(store::Session& s, const std::string& id, const std::string& display_name,
                 source::FrontEnd& fe, RunReport& r)
      : session(s), storeID(id), StoreDisplayName(display_name), front_end(fe), report(r) {}

  store::Session& session;
  const std::string& storeID;
  const std::string& StoreDisplayName;
  source::FrontEnd& front_end;
  RunReport& report;

  bool first_message_told = false;  // FirstMessage() goes to the front end once per run
  // Messages the record marks unread stay unread (else every message is marked read).
  bool keep_unread = false;
  // The marks of message records read from a stream, by the message's path, until the
  // message that follows its record arrives.
  std::map<std::string, MessageMarks> pending_marks;
  MessageRoute cached_route;
  std::string cached_rel;
  std::unique_ptr<store::Folder> cached_folder;
  bool cached_rerouted = false;
  std::string cached_shown;  // the store path of a rerouted message's folder
};

// Imports file into the folder that its logical path routes to; a message
// whose folder is not found goes to the mirrored folder of its relative path (created where
// missing) and the report says so. Marks it read (and as having attachments when it has),
// saves it, and disables "Convert &Messages". Failures are recorded, never raised. True when
// the message was saved. The record beside the file gives its flags and categories.
bool ImportMessageFile(MessageContext& ctx, source::ExportFile& file,
                       const std::string& logical_path);

}  // namespace mailvane::run
