// The front end of the command line: what a run reports, drawn with a progress bar on one
// line of a terminal, or as plain lines when the output is not a terminal; the end on
// standard output when all went well, on standard error otherwise; a failure to start as
// its cause.
#pragma once

#include <chrono>
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

  // The running count while the source is listed, and the count once it is complete.
  void SetCountText(const std::string& text);
  void CountDone(const std::string& text);
  // Ends a line drawn in place, so that what follows starts on a fresh line.
  void FinishLine();

  // The target comes from the command line; a run is never asked for one here.
  std::string ChooseTargetFolder() override { return ""; }
  void RunStarted() override {}
  void Doing(source::Activity activity, const std::string& subject) override;
  void FileDone(const source::FileProgress& progress) override;
  void FirstMessage() override {}
  void SetUpFailed(const source::SetUpFailure& failure) override;
  void RunEnded(const source::RunEnd& end) override;
  void Yield() override;

 private:
  bool Due(std::chrono::milliseconds every);
  void Draw(bool force);
  void DrawPlain(bool force);

  std::ostream& out_;
  std::ostream& err_;
  TerminalOptions options_;
  std::string status_;
  std::string caption_;
  std::string count_;
  int value_ = 0;
  bool dirty_ = false;
  bool line_open_ = false;  // a line drawn in place that has no newline yet
  std::chrono::steady_clock::time_point last_draw_{};
};

// "\r\n" as the boxes write it becomes one newline.
std::string PlainLines(const std::string& text);

}  // namespace mailvane::cli
