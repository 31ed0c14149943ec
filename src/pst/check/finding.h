// One thing a PST checker found: an error (the file breaks the format) or a note (odd but
// harmless, e.g. what Outlook itself writes).
#pragma once

#include <string>
#include <vector>

namespace mailvane::pst::check {

enum class Severity { kNote, kError };

struct Finding {
  Severity severity = Severity::kError;
  std::string area;     // e.g. "header", "amap", "nbt", "bbt", "block", "refcount"
  std::string message;  // what is wrong and where
};

inline bool HasErrors(const std::vector<Finding>& findings) {
  for (const Finding& f : findings) {
    if (f.severity == Severity::kError) return true;
  }
  return false;
}

}  // namespace mailvane::pst::check
