#include "mime/subject_prefix.h"

namespace mailvane::mime {

SplitSubject SplitSubjectPrefix(std::string_view subject) {
  std::size_t pos = 0;
  int chars = 0;
  while (pos < subject.size() && chars <= 3) {
    const auto c = static_cast<unsigned char>(subject[pos]);
    if (c == ':') break;
    if (c == ' ' || (c >= '0' && c <= '9')) return {{}, std::string(subject)};
    ++pos;  // step over a whole UTF-8 sequence: it is one character
    while (pos < subject.size() && (static_cast<unsigned char>(subject[pos]) & 0xC0) == 0x80) {
      ++pos;
    }
    ++chars;
  }
  if (chars < 1 || chars > 3 || pos >= subject.size() || subject[pos] != ':') {
    return {{}, std::string(subject)};
  }
  std::size_t rest = pos + 1;
  while (rest < subject.size() && subject[rest] == ' ') ++rest;
  return {std::string(subject.substr(0, pos)) + ": ", std::string(subject.substr(rest))};
}

}  // namespace mailvane::mime
