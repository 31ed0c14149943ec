// The front end of the command line: the status line, the "Details" caption and a progress
// bar drawn on one line of a terminal, or plain lines when the output is not a terminal;
// message boxes print their text; a folder dialog answers with the folder given on the
// command line; a yes/no question takes its default answer.
#pragma once

#include <chrono>
#include <deque>
#include <ostream>
#include <string>

#include "source/front_end.h"

namespace mailvane::cli {

struct TerminalOptions {
  bool terminal = false;  // draw on one line with carriage returns
  bool quiet = false;     // print only warnings and errors
  int width = 80;         // of the terminal, in columns
  std::chrono::milliseconds redraw_every{100};  // terminal; plain lines come once a second
};

class TerminalFrontEnd : public source::FrontEnd {
 public:
  TerminalFrontEnd(std::ostream& out, std::ostream& err, TerminalOptions options);

  // The answers of the next folder dialogs, in order.
  void AnswerFolder(std::string folder) { answers_.push_back(std::move(folder)); }
  // Ends a line drawn in place, so that what follows starts on a fresh line.
  void FinishLine();

  void SetStatusText(const std::string& text) override;
  void SetFrameCaption(const std::string& text) override;
  void SetProgressRange(int minimum, int maximum) override;
  void SetProgressValue(int value) override;
  void SetConvertEnabled(bool) override {}
  void SetAddFolderEnabled(bool) override {}
  void SetCountText(const std::string& text) override;
  std::string BrowseForFolder(const std::string& title) override;
  bool ShellOpen(const std::string&) override { return false; }
  source::MessageBoxAnswer ShowMessage(const std::string& text, const std::string& title,
                                       source::MessageBoxIcon icon,
                                       source::MessageBoxButtons buttons) override;
  void Yield() override;

 private:
  bool Due(std::chrono::milliseconds every);
  void Draw(bool force);
  void DrawPlain(bool force);

  std::ostream& out_;
  std::ostream& err_;
  TerminalOptions options_;
  std::deque<std::string> answers_;
  std::string status_;
  std::string caption_;
  std::string count_;
  int minimum_ = 0;
  int maximum_ = 100;
  int value_ = 0;
  bool dirty_ = false;
  bool line_open_ = false;  // a line drawn in place that has no newline yet
  std::chrono::steady_clock::time_point last_draw_{};
};

// "\r\n" as the boxes write it becomes one newline.
std::string PlainLines(const std::string& text);

}  // namespace mailvane::cli
