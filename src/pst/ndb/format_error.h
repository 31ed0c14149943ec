// Raised when a PST file (or a request on it) breaks the format's rules.
#pragma once

#include <stdexcept>
#include <string>

namespace mailvane::pst::ndb {

class FormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace mailvane::pst::ndb
