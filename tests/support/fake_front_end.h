// A front end for tests: answers the target question from a queue (then with
// default_folder) and keeps the set-up failures and ends it is told, each also as the box
// the window shows for it (run/run_texts.h). Header-only: the fuzz targets use it too.
#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "run/run_texts.h"
#include "source/front_end.h"

namespace mailvane::testsupport {

class FakeFrontEnd : public source::FrontEnd {
 public:
  FakeFrontEnd() = default;
  explicit FakeFrontEnd(std::string folder) : default_folder(std::move(folder)) {}

  std::deque<std::string> folder_answers;  // the next ChooseTargetFolder answers
  std::string default_folder;              // the answer once they run out ("" cancels)
  std::vector<source::SetUpFailure> set_up_failures;
  std::vector<run::BoxText> boxes;

  // The boxes as "title: text".
  std::vector<std::string> Shown() const {
    std::vector<std::string> out;
    for (const auto& b : boxes) out.push_back(b.title + ": " + b.text);
    return out;
  }

  std::string ChooseTargetFolder() override {
    if (folder_answers.empty()) return default_folder;
    std::string answer = std::move(folder_answers.front());
    folder_answers.pop_front();
    return answer;
  }
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
