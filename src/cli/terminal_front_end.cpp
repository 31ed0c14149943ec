#include "cli/terminal_front_end.h"

#include <algorithm>

#include "run/run_texts.h"

namespace mailvane::cli {

namespace {

constexpr int kBarWidth = 20;

// The set-up's own milestones; the per-file and per-folder texts are far too many to print.
bool IsMilestone(const std::string& text) {
  return text == run::kSessionCreated || text == run::kReadingFolders ||
         text == run::kCreatingFolders;
}

}  // namespace

std::string PlainLines(const std::string& text) {
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  return lines;
}

TerminalFrontEnd::TerminalFrontEnd(std::ostream& out, std::ostream& err, TerminalOptions options)
    : out_(out), err_(err), options_(options) {}

bool TerminalFrontEnd::Due(std::chrono::milliseconds every) {
  const auto now = std::chrono::steady_clock::now();
  if (last_draw_ != std::chrono::steady_clock::time_point{} && now - last_draw_ < every) {
    return false;
  }
  last_draw_ = now;
  return true;
}

void TerminalFrontEnd::FinishLine() {
  if (line_open_) {
    Draw(true);
    out_ << '\n';
    line_open_ = false;
  }
  out_.flush();
}

void TerminalFrontEnd::SetStatusText(const std::string& text) {
  status_ = text;
  dirty_ = true;
  if (options_.quiet) return;
  if (!options_.terminal && IsMilestone(text)) out_ << text << '\n';
  Draw(false);
}

void TerminalFrontEnd::SetFrameCaption(const std::string& text) {
  caption_ = text;
  dirty_ = true;
}

void TerminalFrontEnd::SetProgressRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = std::max(minimum + 1, maximum);
}

void TerminalFrontEnd::SetProgressValue(int value) {
  value_ = value;
  dirty_ = true;
  // The last file always shows, however soon it comes.
  if (value >= maximum_) {
    Draw(true);
  } else {
    Draw(false);
  }
}

void TerminalFrontEnd::SetCountText(const std::string& text) {
  count_ = text;
  if (options_.quiet || !options_.terminal) return;
  if (Due(options_.redraw_every)) {
    out_ << '\r' << text << std::flush;
    line_open_ = true;
  }
}

std::string TerminalFrontEnd::BrowseForFolder(const std::string&) {
  if (answers_.empty()) return "";
  std::string answer = answers_.front();
  answers_.pop_front();
  return answer;
}

source::MessageBoxAnswer TerminalFrontEnd::ShowMessage(const std::string& text,
                                                       const std::string& title,
                                                       source::MessageBoxIcon icon,
                                                       source::MessageBoxButtons buttons) {
  const bool trouble = icon == source::MessageBoxIcon::kWarning ||
                       icon == source::MessageBoxIcon::kCritical ||
                       title == run::kSessionErrorTitle;
  if (line_open_) {
    if (!count_.empty() && caption_.empty()) {
      out_ << '\n';  // the live count is complete; the box repeats it
      line_open_ = false;
    } else {
      FinishLine();
    }
  }
  if (trouble) {
    err_ << "mailvane: " << PlainLines(text) << '\n' << std::flush;
  } else if (!options_.quiet) {
    out_ << PlainLines(text) << '\n' << std::flush;
  }
  return buttons == source::MessageBoxButtons::kYesNo ? source::MessageBoxAnswer::kYes
                                                      : source::MessageBoxAnswer::kOk;
}

void TerminalFrontEnd::Yield() {
  if (dirty_) Draw(false);
}

void TerminalFrontEnd::Draw(bool force) {
  if (options_.quiet || caption_.empty()) return;
  if (!options_.terminal) {
    DrawPlain(force);
    return;
  }
  if (!force && !Due(options_.redraw_every)) return;
  last_draw_ = std::chrono::steady_clock::now();
  const int span = maximum_ - minimum_;
  const int filled = std::clamp((value_ - minimum_) * kBarWidth / span, 0, kBarWidth);
  std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] " +
                     std::to_string(value_) + "% " + caption_ + "  " + status_;
  const std::size_t width = static_cast<std::size_t>(std::max(options_.width - 1, 20));
  if (line.size() > width) {
    std::size_t cut = width;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;  // UTF-8
    line.resize(cut);
  }
  out_ << "\r\033[K" << line << std::flush;
  line_open_ = true;
  dirty_ = false;
}

void TerminalFrontEnd::DrawPlain(bool force) {
  if (!force && !Due(std::chrono::milliseconds(1000))) return;
  last_draw_ = std::chrono::steady_clock::now();
  out_ << caption_ << ' ' << value_ << "%\n";
  dirty_ = false;
}

}  // namespace mailvane::cli
