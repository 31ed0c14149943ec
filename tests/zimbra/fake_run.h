// Fakes of what a run hands the item steps: the shared recording front end, and a failure
// log that records each failure.
#pragma once

#include <string>
#include <vector>

#include "source/failure_log.h"
#include "support/fake_front_end.h"
#include "zimbra/item_steps.h"

namespace mailvane::zimbra::testing {

using testsupport::FakeFrontEnd;

class FakeFailureLog : public source::FailureLog {
 public:
  struct Failure {
    std::string file, step, reason;
  };
  std::vector<Failure> failures;

  void RecordFailure(std::string_view file, std::string_view step,
                     std::string_view reason) override {
    failures.push_back({std::string(file), std::string(step), std::string(reason)});
  }
  std::vector<std::string> steps() const {
    std::vector<std::string> s;
    for (const auto& f : failures) s.push_back(f.step);
    return s;
  }
};

}  // namespace mailvane::zimbra::testing
