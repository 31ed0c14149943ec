// Message files parsed on worker threads ahead of the one thread that writes the store:
// the run names the files it will import, in order, and each import takes its file's
// parse from here. What is written, and in which order, stays that of a one-thread run.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "mime/parsed_message.h"
#include "source/path_list.h"

namespace mailvane::store {

class ParseAhead {
 public:
  // At most this many parsed messages, and this many bytes of their files or of their
  // parses (the larger), wait ahead (at least one), so memory stays bounded whatever the
  // mailbox holds. The count is generous: while one thread parses a message of many MB,
  // the others keep going through the small ones after it, which the writer then takes
  // without waiting; the bytes are what bound the memory.
  static constexpr std::size_t kMaxWaitingPerThread = 64;
  static constexpr std::uint64_t kMaxWaitingBytes = 16 << 20;

  // files: the run's list, in place while this lives; messages: one flag per file, set for
  // the files to parse (a bit each, so a server's listing costs little).
  ParseAhead(const source::PathList& files, std::vector<bool> messages, unsigned threads);
  ~ParseAhead();
  ParseAhead(const ParseAhead&) = delete;
  ParseAhead& operator=(const ParseAhead&) = delete;

  // The parse of file (as mime::ParseMimeFile gives it, exceptions included). Files named
  // earlier and never taken are dropped; a file not named, or already passed, is parsed
  // here and now.
  mime::ParsedMessage Take(const std::filesystem::path& file);

 private:
  struct Slot {
    std::size_t index = 0;
    std::uint64_t bytes = 0;
    bool done = false;
    std::optional<mime::ParsedMessage> parsed;
    std::exception_ptr error;
  };
  void Work();
  bool CanStart() const;
  // Whether slot may be parsed now: it is the first not taken, or it fits within the
  // bytes bound with the slots before it.
  bool FitsBehindOthers(const Slot& slot) const;

  // How far past the oldest file not taken an import's file is looked for; one further
  // on, or one already passed, is parsed by the import itself.
  static constexpr std::size_t kLookAhead = 4096;
  // The first file to parse at or after position at (the list's size when none is left).
  std::size_t NextMessage(std::size_t at) const;

  const source::PathList& files_;
  std::vector<bool> messages_;
  const std::size_t max_waiting_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Slot> window_;  // files_[first_ ...] being parsed or parsed, in order
  std::size_t first_ = 0;    // position of window_.front(), or of the next file when empty
  std::size_t next_ = 0;     // the position of the next file a worker starts
  std::uint64_t window_bytes_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

// A session's parse-ahead, set while a run's imports are expected (else empty): its stores,
// folders and items hold the slot and take parses from whatever it holds at import. The
// parse is the same either way, only where it happens differs.
using ParseAheadSlot = std::unique_ptr<ParseAhead>;

}  // namespace mailvane::store
