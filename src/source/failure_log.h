// The conversion's one "skip the failing step and go on" helper. A step that raises is
// recorded (which file, which step, why) and the work goes on; nothing is swallowed.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace mailvane::source {

class FailureLog {
 public:
  virtual ~FailureLog() = default;
  virtual void RecordFailure(std::string_view file, std::string_view step,
                             std::string_view reason) = 0;
};

// Runs step; when it raises, records the failure and returns false.
bool TryStep(FailureLog& log, std::string_view file, std::string_view step,
             const std::function<void()>& body);

}  // namespace mailvane::source
