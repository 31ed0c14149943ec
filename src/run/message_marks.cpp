#include "run/message_marks.h"

#include <sys/stat.h>

#include <stdexcept>

#include "base/file_time.h"
#include "pst/messaging/property_tags.h"
#include "run/message_import.h"
#include "zimbra/meta_tree.h"

namespace mailvane::run {

using pst::messaging::kMsgFlagHasAttach;
using pst::messaging::kMsgFlagRead;
using pst::messaging::kMsgFlagUnsent;
using pst::messaging::kPrIconIndex;
using pst::messaging::kPrLastVerbExecuted;
using pst::messaging::kPrLastVerbExecutionTime;
using pst::messaging::kPrMessageFlags;

namespace {

// Zimbra's flag bits (the record's "flags") and their letters ("FlagStr").
constexpr std::int64_t kFlagReplied = 4, kFlagForwarded = 8, kFlagFlagged = 32, kFlagDraft = 64;

constexpr std::int32_t kVerbReplyToSender = 102, kVerbForward = 104;
constexpr std::int32_t kIconReplied = 261, kIconForwarded = 262;

MessageMarks MarksOf(const zimbra::MetaTree& tree) {
  const zimbra::MetaNode& json = tree.json;
  const std::string letters = json.Text("FlagStr");
  const auto has = [&](std::int64_t bit, char letter) {
    if (const auto flags = json.Number("flags")) {
      if ((*flags & bit) != 0) return true;
    }
    return letters.find(letter) != std::string::npos;
  };
  MessageMarks marks;
  marks.unread = json.Number("unread").value_or(0) > 0 || letters.find('u') != std::string::npos;
  marks.replied = has(kFlagReplied, 'r');
  marks.forwarded = has(kFlagForwarded, 'w');
  marks.flagged = has(kFlagFlagged, 'f');
  marks.draft = has(kFlagDraft, 'd');
  marks.tags = tree.TagNames();
  marks.changed = json.Number("change_date").value_or(0);
  return marks;
}

}  // namespace

MessageMarks MarksOfRecord(std::string_view bytes) {
  const zimbra::ParsedMetaRecord record = zimbra::ParseMetaRecord(bytes);
  if (!record.tree) throw std::runtime_error(record.failure);
  return MarksOf(*record.tree);
}

std::optional<MessageMarks> ReadMessageMarks(const std::string& eml_file) {
  const std::string record_file = eml_file + ".meta";
  struct stat info {};
  if (::stat(record_file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const zimbra::ParsedMetaRecord record = zimbra::ReadMetaTree(record_file);
  if (!record.tree) throw std::runtime_error(record.failure);
  return MarksOf(*record.tree);
}

void ApplyMessageMarks(store::Item& message, const MessageMarks& marks, bool keep_unread) {
  std::int32_t flags = message.HasAttachments() ? kMsgFlagHasAttach : 0;
  if (!(keep_unread && marks.unread)) flags |= kMsgFlagRead;
  if (marks.draft) flags |= kMsgFlagUnsent;
  message.SetOneProp(kPrMessageFlags, pst::ltp::PropValue::Int32(flags), false);
  if (marks.flagged) {
    message.SetInt("FlagStatus", 2);  // followupFlagged
    message.SetInt("FlagIcon", 6);    // red
    message.SetText("FlagRequest", "Follow up");
  }
  if (marks.replied || marks.forwarded) {
    // Both: the reply is shown, as Outlook shows the last verb only.
    const bool replied = marks.replied;
    message.SetOneProp(kPrLastVerbExecuted,
                       pst::ltp::PropValue::Int32(replied ? kVerbReplyToSender : kVerbForward), false);
    message.SetOneProp(kPrIconIndex, pst::ltp::PropValue::Int32(replied ? kIconReplied : kIconForwarded),
                       false);
    if (marks.changed > 0) {
      const auto when = base::FileTimeFromUnix(marks.changed);
      message.SetOneProp(kPrLastVerbExecutionTime, pst::ltp::PropValue::Time(when), false);
    }
  }
  if (!marks.tags.empty()) {
    std::string categories;
    for (const std::string& tag : marks.tags) {
      if (!categories.empty()) categories += "; ";
      categories += tag;
    }
    message.SetText("Categories", categories);
  }
}

}  // namespace mailvane::run
