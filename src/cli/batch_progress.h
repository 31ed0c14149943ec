// The batch's own line on the terminal: mailboxes done of the total, bytes converted, what
// runs now and an estimate of the time left; one plain line per mailbox otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace mailvane::cli {

class BatchProgress {
 public:
  BatchProgress(std::ostream& out, bool terminal, bool quiet, int width);

  void SetTotal(int mailboxes, std::uint64_t bytes_to_convert) {
    total_ = mailboxes;
    bytes_total_ = bytes_to_convert;
  }
  void AlreadyDone(int mailboxes) { done_ += mailboxes; }
  // A mailbox ended (however); its line is printed above the progress line.
  void Ended(const std::string& line, std::uint64_t bytes_in);
  void SetRunning(int running) { running_ = running; }
  // Clears the terminal line so that other output starts on a clean one.
  void ClearLine();
  // Redraws the terminal line, at most a few times a second unless forced.
  void Draw(bool force = false);
  void Finish();

  // "3 min 20 s" and the like.
  static std::string Duration(std::chrono::seconds s);
  // "1.2 GB", "340 MB", "12 KB", "512 B".
  static std::string Bytes(std::uint64_t n);

 private:
  std::string Line() const;

  std::ostream& out_;
  bool terminal_;
  bool quiet_;
  int width_;
  int total_ = 0;
  int done_ = 0;
  int running_ = 0;
  std::uint64_t bytes_total_ = 0;
  std::uint64_t bytes_done_ = 0;
  bool line_open_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace mailvane::cli
