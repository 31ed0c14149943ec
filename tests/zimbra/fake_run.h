// Fakes of what a run hands the item steps: a front end that records its status texts
// and yields, and a failure log that records each failure.
#pragma once

#include <string>
#include <vector>

#include "source/failure_log.h"
#include "source/front_end.h"
#include "zimbra/item_steps.h"

namespace mailvane::zimbra::testing {

class FakeFrontEnd : public source::FrontEnd {
 public:
  std::vector<std::string> status;
  int yields = 0;

  void SetStatusText(const std::string& text) override { status.push_back(text); }
  void SetFrameCaption(const std::string&) override {}
  void SetProgressRange(int, int) override {}
  void SetProgressValue(int) override {}
  void SetConvertEnabled(bool) override {}
  void SetAddFolderEnabled(bool) override {}
  void SetCountText(const std::string&) override {}
  std::string BrowseForFolder(const std::string&) override { return {}; }
  bool ShellOpen(const std::string&) override { return false; }
  source::MessageBoxAnswer ShowMessage(const std::string&, const std::string&,
                                       source::MessageBoxIcon,
                                       source::MessageBoxButtons) override {
    return source::MessageBoxAnswer::kOk;
  }
  void Yield() override { ++yields; }
};

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
