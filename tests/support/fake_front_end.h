// A front end for tests: answers the target question with its folder and keeps the set-up
// failures and ends it is told, each also as the box the window shows for it
// (run/run_texts.h). Header-only: the fuzz targets use it too.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "run/run_texts.h"
#include "source/front_end.h"

namespace mailvane::testsupport {

class FakeFrontEnd : public source::FrontEnd {
 public:
  FakeFrontEnd() = default;
  explicit FakeFrontEnd(std::string folder) : target_folder(std::move(folder)) {}

  std::string target_folder;  // the target's answer ("" cancels)
  std::vector<source::SetUpFailure> set_up_failures;
  std::vector<run::BoxText> boxes;

  std::string ChooseTargetFolder() override { return target_folder; }
  void RunStarted() override {}
  // The window's words are made for every report as well, so the fuzz targets run them.
  void Doing(source::Activity activity, const std::string& subject) override { run::StatusText(activity, subject); }
  void FileDone(const source::FileProgress& progress) override {
    run::ProgressCaption(progress);
    run::ProgressPercent(progress);
  }
  void FirstMessage() override {}
  void SetUpFailed(const source::SetUpFailure& failure) override {
    set_up_failures.push_back(failure);
    boxes.push_back(run::SetUpFailureBox(failure));
  }
  void RunEnded(const source::RunEnd& end) override { boxes.push_back(run::EndBox(end)); }
  void Yield() override {}
};

}  // namespace mailvane::testsupport
