// A front end for tests: answers the target question from a queue (then with
// default_folder) and records everything the core told it, in order, both as typed reports
// and in the words the window shows for them (run/run_texts.h), so a test can check the
// exact texts, bar values and boxes. Header-only: the fuzz targets use it too.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "run/run_texts.h"
#include "source/front_end.h"

namespace mailvane::testsupport {

struct ShownMessage {
  std::string text;
  std::string title;
  source::MessageBoxIcon icon;
  source::MessageBoxButtons buttons;
};

class FakeFrontEnd : public source::FrontEnd {
 public:
  FakeFrontEnd() = default;
  explicit FakeFrontEnd(std::string folder) : default_folder(std::move(folder)) {}

  std::deque<std::string> folder_answers;  // the next ChooseTargetFolder answers
  std::string default_folder;              // the answer once they run out ("" cancels)
  std::function<void()> on_yield;          // e.g. a second run started from a yield
  std::function<void(const ShownMessage&)> on_message;

  int target_questions = 0;
  int runs_started = 0;
  int first_messages = 0;
  std::vector<std::pair<source::Activity, std::string>> activities;
  std::vector<std::string> statuses;  // the activities as the status line shows them
  std::vector<std::string> captions;
  std::vector<int> values;
  std::vector<source::SetUpFailure> set_up_failures;
  std::vector<source::RunEnd> ends;
  std::vector<ShownMessage> boxes;  // the set-up failures and ends as the window's boxes
  int yields = 0;

  std::string ChooseTargetFolder() override {
    ++target_questions;
    if (folder_answers.empty()) return default_folder;
    std::string answer = std::move(folder_answers.front());
    folder_answers.pop_front();
    return answer;
  }
  void RunStarted() override { ++runs_started; }
  void Doing(source::Activity activity, const std::string& subject) override {
    activities.emplace_back(activity, subject);
    statuses.push_back(run::StatusText(activity, subject));
  }
  void FileDone(const source::FileProgress& progress) override {
    captions.push_back(run::ProgressCaption(progress));
    if (const std::optional<int> value = run::ProgressPercent(progress)) values.push_back(*value);
  }
  void FirstMessage() override { ++first_messages; }
  void SetUpFailed(const source::SetUpFailure& failure) override {
    set_up_failures.push_back(failure);
    Show(run::SetUpFailureBox(failure));
  }
  void RunEnded(const source::RunEnd& end) override {
    ends.push_back(end);
    Show(run::EndBox(end));
  }
  void Yield() override {
    ++yields;
    if (on_yield) on_yield();
  }

  bool HasStatus(const std::string& text) const {
    for (const auto& s : statuses) {
      if (s == text) return true;
    }
    return false;
  }

 private:
  void Show(const run::BoxText& box) {
    boxes.push_back({box.text, box.title, box.icon, source::MessageBoxButtons::kOk});
    if (on_message) on_message(boxes.back());
  }
};

}  // namespace mailvane::testsupport
