#include "cli/batch_progress.h"

#include <algorithm>
#include <cstdio>

namespace mailvane::cli {

BatchProgress::BatchProgress(std::ostream& out, bool terminal, bool quiet, int width)
    : out_(out), terminal_(terminal), quiet_(quiet), width_(width) {}

std::string BatchProgress::Duration(std::chrono::seconds s) {
  const long long total = s.count();
  if (total < 60) return std::to_string(total) + " s";
  if (total < 3600) return std::to_string(total / 60) + " min " + std::to_string(total % 60) + " s";
  return std::to_string(total / 3600) + " h " + std::to_string(total % 3600 / 60) + " min";
}

std::string BatchProgress::Bytes(std::uint64_t n) {
  static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(n);
  int unit = 0;
  while (value >= 1000 && unit < 4) {
    value /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 || value >= 100 ? "%.0f %s" : "%.1f %s", value,
                kUnits[unit]);
  return text;
}

std::string BatchProgress::Line() const {
  std::string line = "Batch: " + std::to_string(done_) + " of " + std::to_string(total_) +
                     " mailboxes, " + Bytes(bytes_done_) + " of " + Bytes(bytes_total_);
  if (running_ > 0) line += ", " + std::to_string(running_) + " converting";
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  // The rate of this run so far; nothing is promised before the first mailbox has ended.
  if (bytes_done_ > 0 && bytes_total_ > bytes_done_) {
    const double left = std::chrono::duration<double>(elapsed).count() *
                        static_cast<double>(bytes_total_ - bytes_done_) /
                        static_cast<double>(bytes_done_);
    line += ", about " + Duration(std::chrono::seconds(static_cast<long long>(left) + 1)) + " left";
  }
  return line;
}

void BatchProgress::ClearLine() {
  if (line_open_) out_ << "\r\033[K" << std::flush;
  line_open_ = false;
}

void BatchProgress::Ended(const std::string& line, std::uint64_t bytes_in) {
  ++done_;
  bytes_done_ += bytes_in;
  if (quiet_) return;
  ClearLine();
  out_ << line << " (" << done_ << " of " << total_ << ")\n";
  Draw(true);
}

void BatchProgress::Draw(bool force) {
  if (quiet_ || !terminal_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - last_draw_ < std::chrono::milliseconds(250)) return;
  last_draw_ = now;
  std::string line = Line();
  const std::size_t width = static_cast<std::size_t>(std::max(width_ - 1, 20));
  if (line.size() > width) line.resize(width);
  out_ << "\r\033[K" << line << std::flush;
  line_open_ = true;
}

void BatchProgress::Finish() {
  ClearLine();
  if (!quiet_) out_ << Line() << "\n";
  out_.flush();
}

}  // namespace mailvane::cli
