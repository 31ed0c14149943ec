#include "source/failure_log.h"

#include <exception>

namespace mailvane::source {

bool TryStep(FailureLog& log, std::string_view file, std::string_view step,
             const std::function<void()>& body) {
  try {
    body();
    return true;
  } catch (const std::exception& e) {
    log.RecordFailure(file, step, e.what());
  } catch (...) {
    log.RecordFailure(file, step, "unknown error");
  }
  return false;
}

}  // namespace mailvane::source
