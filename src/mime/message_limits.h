// What one message may make the parser keep. GMime holds every header and every part of a
// message in memory at once, so a hostile or broken message (tens of thousands of tiny
// parts, a header line of many megabytes) would cost many times its size. These limits
// are far above what real mail reaches; a message that passes one is cut before GMime
// reads it, and the cut is named in the message's warnings.
#pragma once

#include <gmime/gmime.h>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace mailvane::mime {

struct MessageLimits {
  std::size_t max_parts = 3000;               // MIME parts, at every depth
  std::size_t max_header_field = 256u << 10;  // bytes of one header field, folded lines included
  std::size_t max_header_bytes = 2u << 20;     // bytes of all header fields of the message
  std::size_t max_header_fields = 20000;      // header fields of the message, at every depth
  std::size_t max_recipients = 2000;          // rows of the recipient table
};

inline constexpr MessageLimits kMessageLimits{};

struct MessageCuts {
  // Byte ranges [first, second) left out: the tails of over-long header fields.
  std::vector<std::pair<gint64, gint64>> dropped;
  gint64 end = -1;  // the message is cut off here; -1: read to its end
  gint64 size = 0;  // bytes the stream held
  std::vector<std::string> warnings;
  bool empty() const { return dropped.empty() && end < 0; }
};

class CutFinder;

// Follows a message's bytes as they come, piece after piece.
class CutScanner {
 public:
  // passed_once: each piece goes on to the parser as it is fed, so nothing behind the scan
  // can be left out any more; a header field past its limit then cuts the message off
  // where the field starts, as soon as it passes the limit.
  explicit CutScanner(const MessageLimits& limits = kMessageLimits, bool passed_once = false);
  ~CutScanner();
  CutScanner(const CutScanner&) = delete;
  CutScanner& operator=(const CutScanner&) = delete;

  void Feed(const char* data, std::size_t size);
  // The message must be cut off (Finish says where); what follows need not be fed.
  bool done() const;
  gint64 end() const;  // where it is cut off, from the first byte fed; -1 while not
  // The cuts, once every piece (or all up to done()) was fed.
  MessageCuts Finish();

 private:
  std::unique_ptr<CutFinder> finder_;
  std::string head_;        // the first bytes of a line that runs over a piece
  std::size_t length_ = 0;  // that line's length so far
  gint64 line_at_ = 0;
};

// Reads the stream through once and leaves it at its start.
MessageCuts FindCuts(GMimeStream* stream, const MessageLimits& limits = kMessageLimits);

// A new stream reading as `stream` without the cut bytes (a line end stands in for each
// header tail left out).
GMimeStream* WithoutCuts(GMimeStream* stream, const MessageCuts& cuts);

}  // namespace mailvane::mime
