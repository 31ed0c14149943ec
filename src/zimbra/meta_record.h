// Reading a Zimbra .meta record and cutting it up. A record is the last line of the file,
// decoded (UTF-8, Windows-1252 for bytes that are not UTF-8) and with its JSON escapes
// undone, so the lengths inside it count exactly the UTF-16 code units of the text.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mailvane::zimbra {

struct MetaRecordText {
  std::u16string text;  // the record text; empty for an empty or unreadable file
  std::string failure;  // why the file could not be read; empty when it was read
};

// Reads the file at path (spaces at both ends of the path removed) and returns its last
// line. Lines end at CR LF or at a CR alone; a LF alone stays in the text, and a line end
// at the very end of the file does not begin another line. Never throws for a file that
// cannot be opened or read: the reason is in the result.
MetaRecordText ReadMetaRecord(std::string_view path, const std::function<void()>& yield = {});

// The record text of a file's bytes, by the same line rule.
std::u16string MetaRecordOfBytes(std::string_view bytes);
// Reads the whole file at path; on failure returns false with the reason.
bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& failure);

// The last line of a record file's bytes, by the line rule of ReadMetaRecord.
std::string_view LastLine(std::string_view bytes);

// The text between the first and the second occurrence of marker (case-sensitive), or to
// the end when it occurs once; none when it does not occur.
std::optional<std::u16string> MetaSection(std::u16string_view record_text, std::string_view marker);

// The section split at every ":", empty tokens kept; an empty section gives no tokens.
std::vector<std::u16string> MetaTokens(std::u16string_view section);

}  // namespace mailvane::zimbra
