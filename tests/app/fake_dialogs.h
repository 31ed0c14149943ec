// Dialogs answered by the test: folder choices and message-box answers come from queues,
// and everything asked is recorded.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/dialogs.h"

namespace mailvane::app::testing {

struct ShownMessage {
  std::string text;
  std::string title;
  source::MessageBoxIcon icon;
  source::MessageBoxButtons buttons;
};

class FakeDialogs : public Dialogs {
 public:
  std::deque<std::string> folder_answers;             // "" cancels
  std::deque<source::MessageBoxAnswer> yes_no_answers;  // for Yes/No boxes
  std::vector<std::string> folder_titles;
  std::vector<ShownMessage> messages;
  // Called while a message box would be up (to act as the user meanwhile).
  std::function<void(const ShownMessage&)> on_message;

  std::string ChooseFolder(QWidget*, const std::string& title) override {
    folder_titles.push_back(title);
    if (folder_answers.empty()) return {};
    std::string answer = folder_answers.front();
    folder_answers.pop_front();
    return answer;
  }

  source::MessageBoxAnswer ShowMessage(QWidget*, const std::string& text,
                                       const std::string& title, source::MessageBoxIcon icon,
                                       source::MessageBoxButtons buttons) override {
    messages.push_back({text, title, icon, buttons});
    if (on_message) on_message(messages.back());
    if (buttons == source::MessageBoxButtons::kOk) return source::MessageBoxAnswer::kOk;
    if (yes_no_answers.empty()) return source::MessageBoxAnswer::kNo;
    const source::MessageBoxAnswer answer = yes_no_answers.front();
    yes_no_answers.pop_front();
    return answer;
  }

  bool OpenAddress(const std::string&) override { return false; }
};

}  // namespace mailvane::app::testing
