#include "zimbra/meta_record.h"

#include <system_error>

#include "base/whole_file.h"
#include "zimbra/meta_text.h"

namespace mailvane::zimbra {
namespace {

std::string_view TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& failure) {
  try {
    bytes = base::ReadWholeFile(path);
    return true;
  } catch (const std::system_error& e) {
    failure = e.what();
    bytes.clear();
    return false;
  }
}

std::string_view LastLine(std::string_view bytes) {
  std::size_t end = bytes.size();
  if (end >= 2 && bytes[end - 2] == '\r' && bytes[end - 1] == '\n') {
    end -= 2;
  } else if (end >= 1 && bytes[end - 1] == '\r') {
    end -= 1;
  }
  const std::string_view body = bytes.substr(0, end);
  const auto cr = body.rfind('\r');
  if (cr == std::string_view::npos) return body;
  const std::size_t start = cr + 1 < end && body[cr + 1] == '\n' ? cr + 2 : cr + 1;
  return body.substr(start);
}

MetaRecordText ReadMetaRecord(std::string_view path, const std::function<void()>& yield) {
  MetaRecordText result;
  const std::string trimmed(TrimSpaces(path));
  if (yield) yield();
  std::string bytes;
  if (!ReadFileBytes(trimmed, bytes, result.failure)) return result;
  if (yield) yield();
  result.text = MetaRecordOfBytes(bytes);
  return result;
}

std::u16string MetaRecordOfBytes(std::string_view bytes) {
  return UnescapeJson(DecodeMetaBytes(LastLine(bytes)));
}

std::optional<std::u16string> MetaSection(std::u16string_view record_text,
                                          std::string_view marker) {
  const std::u16string marker16 = DecodeMetaBytes(marker);
  if (marker16.empty()) return std::nullopt;
  const auto first = record_text.find(marker16);
  if (first == std::u16string_view::npos) return std::nullopt;
  const auto start = first + marker16.size();
  const auto second = record_text.find(marker16, start);
  if (second == std::u16string_view::npos) return std::u16string(record_text.substr(start));
  return std::u16string(record_text.substr(start, second - start));
}

std::vector<std::u16string> MetaTokens(std::u16string_view section) {
  std::vector<std::u16string> tokens;
  if (section.empty()) return tokens;
  std::size_t start = 0;
  while (true) {
    const auto colon = section.find(u':', start);
    if (colon == std::u16string_view::npos) {
      tokens.emplace_back(section.substr(start));
      return tokens;
    }
    tokens.emplace_back(section.substr(start, colon - start));
    start = colon + 1;
  }
}

}  // namespace mailvane::zimbra
