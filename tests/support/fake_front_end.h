// A front end for tests: answers the folder dialogs from a queue (then with
// default_folder) and records everything the core told it, in order, so a test can check
// the exact texts, bar values and boxes. Header-only: the fuzz targets use it too.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

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

  std::deque<std::string> folder_answers;  // the next BrowseForFolder answers
  std::string default_folder;              // the answer once they run out ("" cancels)
  std::function<void()> on_yield;          // e.g. a second run started from a yield
  std::function<void(const ShownMessage&)> on_message;

  std::vector<std::string> browse_titles;
  std::vector<std::string> statuses;
  std::vector<std::string> captions;
  std::vector<std::string> count_texts;
  std::vector<std::pair<int, int>> ranges;
  std::vector<int> values;
  std::vector<bool> convert_enabled;     // every SetConvertEnabled call
  std::vector<bool> add_folder_enabled;  // every SetAddFolderEnabled call
  std::vector<ShownMessage> boxes;
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
    if (folder_answers.empty()) return default_folder;
    std::string answer = std::move(folder_answers.front());
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
    boxes.push_back({text, title, icon, buttons});
    if (on_message) on_message(boxes.back());
    return buttons == source::MessageBoxButtons::kYesNo ? source::MessageBoxAnswer::kYes
                                                        : source::MessageBoxAnswer::kOk;
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
};

}  // namespace mailvane::testsupport
