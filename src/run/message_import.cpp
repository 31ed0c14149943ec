#include "run/message_import.h"

#include "run/file_tests.h"
#include "run/folder_tree.h"
#include "run/message_marks.h"
#include "source/path_names.h"
#include "source/relative_folder.h"

namespace mailvane::run {

namespace {

std::string Separated(std::string_view name) {
  return std::string(1, source::kPathSeparator) + std::string(name);
}

std::unique_ptr<store::Folder> Resolve(MessageContext& ctx, const MessageRoute& route) {
  store::Store& store = ctx.session.GetStoreFromID(ctx.storeID);
  switch (route.target) {
    case MessageRoute::Target::kDefaultInbox:
      return store.GetDefaultFolder(store::DefaultFolder::kInbox);
    case MessageRoute::Target::kDefaultSent:
      return store.GetDefaultFolder(store::DefaultFolder::kSentMail);
    case MessageRoute::Target::kFolderPath:
      return FindMAPIFolder(store, source::kStoreSeparator + ctx.StoreDisplayName +
                                       source::kStoreSeparator + route.folder_path);
    case MessageRoute::Target::kSpecialFolder: {
      std::string shown;
      return OpenMirroredFolder(store, route.folder_path, shown);
    }
    case MessageRoute::Target::kNone:
      break;
  }
  return nullptr;
}

// The folder for this message: the routed one, else the mirrored folder of rel.
store::Folder* TargetFolder(MessageContext& ctx, const std::string& file, const std::string& rel,
                            const MessageRoute& route) {
  const bool cached =
      ctx.cached_folder != nullptr && route == ctx.cached_route && rel == ctx.cached_rel;
  if (!cached) {
    ctx.cached_folder.reset();
    ctx.cached_route = route;
    ctx.cached_rel = rel;
    ctx.cached_shown.clear();
    source::TryStep(ctx.report, file, "find message folder",
                    [&] { ctx.cached_folder = Resolve(ctx, route); });
    if (ctx.cached_folder == nullptr) {
      source::TryStep(ctx.report, file, "create message folder", [&] {
        ctx.cached_folder =
            OpenMirroredFolder(ctx.session.GetStoreFromID(ctx.storeID), rel, ctx.cached_shown);
      });
      if (ctx.cached_folder == nullptr) return nullptr;
      ctx.cached_rerouted = true;
    } else {
      ctx.cached_rerouted = false;
    }
  }
  if (ctx.cached_rerouted) ctx.report.MessageRerouted(file, ctx.cached_shown);
  return ctx.cached_folder.get();
}

}  // namespace

MessageRoute RouteMessage(std::string_view logical_path, std::string_view rel) {
  static const std::string kInbox = Separated("Inbox");
  static const std::string kSent = Separated("Sent");
  static const std::string kInboxEnd = Separated("inbox") + source::kPathSeparator;
  const std::string name = source::FileNameOf(logical_path);
  const bool eml = EndsWithLower(name, ".eml");
  const bool has_inbox = logical_path.find(kInbox) != std::string_view::npos;
  MessageRoute route;
  if (has_inbox && eml && EndsWithLower(source::ParentPathOf(logical_path), kInboxEnd)) {
    route.target = MessageRoute::Target::kDefaultInbox;
  } else if (has_inbox && eml) {
    // The text after rel's first "\Inbox", up to the next one; searched from the root, so
    // that an "Inbox" at the top (an archive's own) counts as one below a folder does.
    const std::string store_inbox = std::string(1, source::kStoreSeparator) + "Inbox";
    const std::string from_root = source::kStoreSeparator + std::string(rel);
    const std::size_t at = from_root.find(store_inbox);
    if (at != std::string::npos) {
      std::string_view rest = std::string_view(from_root).substr(at + store_inbox.size());
      rest = rest.substr(0, rest.find(store_inbox));
      route.target = MessageRoute::Target::kFolderPath;
      route.folder_path = "Inbox" + std::string(rest);
    }
  } else if (logical_path.find(kSent) != std::string_view::npos && eml) {
    route.target = MessageRoute::Target::kDefaultSent;
  } else {
    route.target = MessageRoute::Target::kFolderPath;
    for (const std::string& name : SplitStorePath(rel)) {
      if (name != "Inbox" && SpecialFolderOf(name)) {
        route.target = MessageRoute::Target::kSpecialFolder;
        break;
      }
    }
    route.folder_path = std::string(rel);
  }
  return route;
}

bool ImportMessageFile(MessageContext& ctx, source::ExportFile& source_file,
                       const std::string& logical_path) {
  const std::string& file = source_file.shown();
  ctx.front_end.Yield();
  ctx.front_end.Doing(source::Activity::kConvertingMessage, file);
  if (!ctx.first_message_told) {
    ctx.front_end.FirstMessage();
    ctx.first_message_told = true;
  }
  const std::string rel = source::RelativeFolder(logical_path);
  store::Folder* folder = TargetFolder(ctx, file, rel, RouteMessage(logical_path, rel));
  if (folder == nullptr) return false;

  std::unique_ptr<store::Item> message;
  if (!source::TryStep(ctx.report, file, "create message",
                       [&] { message = folder->AddItem(store::ItemType::kMessage); })) {
    return false;
  }
  // A failed import still leaves a message, stored as far as the import got.
  source::TryStep(ctx.report, file, "import message", [&] {
    if (const std::string* disk = source_file.DiskPath()) {
      message->Import(*disk, store::kImportRfc822);
    } else {
      message->ImportStream(*source_file.Stream(), source_file.size(), store::kImportRfc822);
    }
  });
  for (const std::string& warning : message->ImportWarnings()) ctx.report.Notice(file, warning);
  // A record that does not read costs the message its flags only: a notice, not a failure.
  std::optional<MessageMarks> marks;
  try {
    if (const std::string* disk = source_file.DiskPath()) {
      marks = ReadMessageMarks(*disk);
    } else if (auto it = ctx.pending_marks.find(source_file.path()); it != ctx.pending_marks.end()) {
      marks = it->second;
      ctx.pending_marks.erase(it);
    }
  } catch (const std::exception& e) {
    ctx.report.Notice(file, std::string("the record beside it was not read, so it is marked read: ") +
                                e.what());
  }
  source::TryStep(ctx.report, file, "set message flags", [&] {
    ApplyMessageMarks(*message, marks.value_or(MessageMarks{}), ctx.keep_unread);
  });
  return source::TryStep(ctx.report, file, "save message", [&] { message->Save(); });
}

}  // namespace mailvane::run
