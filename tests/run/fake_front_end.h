// A front end for tests: answers the folder dialogs from a queue and records everything the
// core told it, in order, so a test can check the exact texts, bar values and boxes.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "source/front_end.h"

namespace mailvane::testing {

struct ShownMessage {
  std::string text;
  std::string title;
  source::MessageBoxIcon icon;
  source::MessageBoxButtons buttons;
};

class FakeFrontEnd : public source::FrontEnd {
 public:
  // Answers of the next BrowseForFolder calls; "" (cancel) once they run out.
  std::deque<std::string> folder_answers;
  // Called on every Yield (a test may start a second run from here).
  std::function<void()> on_yield;

  std::vector<std::string> browse_titles;
  std::vector<std::string> statuses;
  std::vector<std::string> captions;
  std::vector<std::string> count_texts;
  std::vector<std::pair<int, int>> ranges;
  std::vector<int> values;
  std::vector<bool> convert_enabled;     // every SetConvertEnabled call
  std::vector<bool> add_folder_enabled;  // every SetAddFolderEnabled call
  std::vector<ShownMessage> messages;
  std::vector<std::string> opened;
  int yields = 0;

  void SetStatusText(const std::string& text) override { statuses.push_back(text); }
  void SetFrameCaption(const std::string& text) override { captions.push_back(text); }
  void SetProgressRange(int minimum, int maximum) override { ranges.emplace_back(minimum, maximum); }
  void SetProgressValue(int value) override { values.push_back(value); }
  void SetConvertEnabled(bool enabled) override { convert_enabled.push_back(enabled); }
  void SetAddFolderEnabled(bool enabled) override { add_folder_enabled.push_back(enabled); }
  void SetCountText(const std::string& text) override { count_texts.push_back(text); }

  std::string BrowseForFolder(const std::string& title) override {
    browse_titles.push_back(title);
    if (folder_answers.empty()) return "";
    std::string answer = folder_answers.front();
    folder_answers.pop_front();
    return answer;
  }
  bool ShellOpen(const std::string& address) override {
    opened.push_back(address);
    return true;
  }
  source::MessageBoxAnswer ShowMessage(const std::string& text, const std::string& title,
                                       source::MessageBoxIcon icon,
                                       source::MessageBoxButtons buttons) override {
    messages.push_back({text, title, icon, buttons});
    return buttons == source::MessageBoxButtons::kYesNo ? source::MessageBoxAnswer::kYes
                                                        : source::MessageBoxAnswer::kOk;
  }
  void Yield() override {
    ++yields;
    if (on_yield) on_yield();
  }

  // Whether a status line was shown that equals text.
  bool HasStatus(const std::string& text) const {
    for (const auto& s : statuses) {
      if (s == text) return true;
    }
    return false;
  }
};

}  // namespace mailvane::testing
