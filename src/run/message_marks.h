// What a message's own record (the ".meta" beside its ".eml") says about it: read or
// unread, flagged, answered or forwarded, a draft, its tags.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/mail_store.h"

namespace mailvane::run {

struct MessageMarks {
  bool unread = false;
  bool flagged = false;
  bool replied = false;
  bool forwarded = false;
  bool draft = false;
  std::vector<std::string> tags;
  std::int64_t changed = 0;  // seconds since 1970, 0 when unknown
};

// The marks of a message's record (the bytes of its ".meta"); raises when they do not read.
MessageMarks MarksOfRecord(std::string_view bytes);

// The marks of the record beside eml_file; nullopt when there is no record. Raises with
// the reason when there is one that cannot be read or parsed.
std::optional<MessageMarks> ReadMessageMarks(const std::string& eml_file);

// Writes the marks to an imported message: the flags (read unless keep_unread and the
// record says unread; unsent for a draft), a follow-up flag, the last verb and its icon,
// the categories.
void ApplyMessageMarks(store::Item& message, const MessageMarks& marks, bool keep_unread);

}  // namespace mailvane::run
