#include "cli/terminal_front_end.h"

#include <algorithm>

#include "run/run_texts.h"

namespace mailvane::cli {

namespace {

constexpr int kBarWidth = 20;

// The set-up's milestones as plain lines, in this program's words (there is no Outlook
// here); the per-file and per-folder reports are far too many to print. nullptr: none.
const char* MilestoneLine(source::Activity activity) {
  switch (activity) {
    case source::Activity::kSessionCreated: return "Creating the store...";
    case source::Activity::kReadingFolders: return "Reading the export's folders...";
    case source::Activity::kCreatingFolders: return "Creating the folders...";
    default: return nullptr;
  }
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

void TerminalFrontEnd::Doing(source::Activity activity, const std::string& subject) {
  status_ = run::StatusText(activity, subject);
  dirty_ = true;
  if (options_.quiet) return;
  const char* milestone = MilestoneLine(activity);
  if (!options_.terminal && milestone != nullptr) out_ << milestone << '\n';
  Draw(false);
}

void TerminalFrontEnd::FileDone(const source::FileProgress& progress) {
  caption_ = run::ProgressCaption(progress);
  if (const std::optional<int> value = run::ProgressPercent(progress)) value_ = *value;
  dirty_ = true;
  // The last file always shows, however soon it comes.
  Draw(progress.file_count > 0 && progress.file_number >= progress.file_count);
}

void TerminalFrontEnd::SetCountText(const std::string& text) {
  count_ = text;
  if (options_.quiet || !options_.terminal) return;
  if (Due(options_.redraw_every)) {
    out_ << '\r' << text << std::flush;
    line_open_ = true;
  }
}

void TerminalFrontEnd::CountDone(const std::string& text) {
  if (line_open_) {
    out_ << '\r';  // the live count is complete; the final one is written over it
    line_open_ = false;
  }
  if (!options_.quiet) out_ << text << '\n' << std::flush;
}

void TerminalFrontEnd::SetUpFailed(const source::SetUpFailure& failure) {
  FinishLine();
  // The cause first, in the words of the system that refused: nothing about the window.
  err_ << "mailvane: " << failure.cause << '\n' << std::flush;
}

void TerminalFrontEnd::RunEnded(const source::RunEnd& end) {
  FinishLine();
  const std::string text = PlainLines(run::EndBox(end).text);
  if (end.verdict != source::RunVerdict::kConverted) {
    err_ << "mailvane: " << text << '\n' << std::flush;
  } else if (!options_.quiet) {
    out_ << text << '\n' << std::flush;
  }
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
  const int filled = std::clamp(value_ * kBarWidth / 100, 0, kBarWidth);
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
