// The subject prefix ("RE: ", "FW: ", ...) and normalized subject of MS-OXCMAIL 2.2.3.2.6.1.
#pragma once

#include <string>
#include <string_view>

namespace mailvane::mime {

struct SplitSubject {
  std::string prefix;      // empty when the subject has none
  std::string normalized;  // the subject after the prefix and its blanks
};

// A prefix is one to three characters, none of them a colon, a blank or a digit, then a
// colon and any number of blanks; it is stored as those characters followed by ": ".
SplitSubject SplitSubjectPrefix(std::string_view subject);

}  // namespace mailvane::mime
