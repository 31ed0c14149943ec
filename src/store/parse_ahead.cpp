#include "store/parse_ahead.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "mime/mime_parser.h"

namespace mailvane::store {

ParseAhead::ParseAhead(const source::PathList& files, std::vector<bool> messages, unsigned threads)
    : files_(files), messages_(std::move(messages)), max_waiting_(kMaxWaitingPerThread * std::max(threads, 1u)) {
  messages_.resize(std::min(messages_.size(), files_.size()));
  first_ = next_ = NextMessage(0);
  for (unsigned t = 0; t < threads; ++t) workers_.emplace_back([this] { Work(); });
}

ParseAhead::~ParseAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

std::size_t ParseAhead::NextMessage(std::size_t at) const {
  while (at < messages_.size() && !messages_[at]) ++at;
  return at;
}

bool ParseAhead::CanStart() const {
  if (next_ >= messages_.size()) return false;
  return window_.empty() || (window_.size() < max_waiting_ && window_bytes_ < kMaxWaitingBytes);
}

bool ParseAhead::FitsBehindOthers(const Slot& slot) const {
  std::uint64_t before = 0;
  for (const Slot& other : window_) {
    if (&other == &slot) break;
    before += other.bytes;
  }
  return before == 0 || before + slot.bytes <= kMaxWaitingBytes;
}

void ParseAhead::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || CanStart(); });
    if (stopping_) return;
    const std::size_t index = next_;
    next_ = NextMessage(next_ + 1);
    std::filesystem::path file;
    std::exception_ptr error;
    try {
      file = files_[index];  // the list's temporary file may refuse: the take says why
    } catch (...) {
      error = std::current_exception();
    }
    // One look at the file gives its size and its kind.
    struct stat info {};
    const bool examined = !error && ::stat(file.c_str(), &info) == 0;
    Slot& slot = window_.emplace_back();  // deque: stays in place while others are added
    slot.index = index;
    slot.bytes = examined ? static_cast<std::uint64_t>(info.st_size) : 0;
    window_bytes_ += slot.bytes;
    // A message that does not fit beside those before it is parsed once they are taken:
    // two of the mailbox's largest are never parsed at once.
    changed_.wait(lock, [&] { return stopping_ || FitsBehindOthers(slot); });
    if (stopping_) return;
    lock.unlock();
    std::optional<mime::ParsedMessage> parsed;
    try {
      if (error) std::rethrow_exception(error);
      // Only regular files: opening a FIFO or a device named like a message would block
      // this worker, and the run with it. The writer refuses such files itself.
      if (examined && !S_ISREG(info.st_mode)) throw std::runtime_error("not a regular file: " + file.string());
      parsed.emplace(mime::ParseMimeFile(file));
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    // What waits is the parse, which a hostile file can make many times its size.
    if (parsed && parsed->MemoryBytes() > slot.bytes) {
      window_bytes_ += parsed->MemoryBytes() - slot.bytes;
      slot.bytes = parsed->MemoryBytes();
    }
    slot.parsed = std::move(parsed);
    slot.error = error;
    slot.done = true;
    changed_.notify_all();
  }
}

mime::ParsedMessage ParseAhead::Take(const std::filesystem::path& file) {
  std::unique_lock lock(mutex_);
  // Imports come in the order named: the file is nearly always the oldest not taken.
  const std::string name = file.string();
  std::size_t wanted = first_;
  const std::size_t end = std::min(messages_.size(), first_ + kLookAhead);
  while (wanted < end && (!messages_[wanted] || files_[wanted] != name)) ++wanted;
  if (wanted == end) {
    lock.unlock();
    return mime::ParseMimeFile(file);
  }
  for (;;) {
    // A slot leaves the window only once its worker is done with it.
    changed_.wait(lock, [this] { return window_.empty() || window_.front().done; });
    if (window_.empty()) {
      // Not started yet: the files before it will never be asked for.
      if (next_ <= wanted) {
        next_ = NextMessage(wanted + 1);
        first_ = next_;
        lock.unlock();
        changed_.notify_all();
        return mime::ParseMimeFile(file);
      }
      lock.unlock();
      return mime::ParseMimeFile(file);
    }
    Slot slot = std::move(window_.front());
    window_.pop_front();
    window_bytes_ -= slot.bytes;
    first_ = slot.index + 1;
    changed_.notify_all();
    if (slot.index != wanted) continue;
    lock.unlock();
    if (slot.error) std::rethrow_exception(slot.error);
    return std::move(*slot.parsed);
  }
}

}  // namespace mailvane::store
