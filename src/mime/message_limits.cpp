#include "mime/message_limits.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "mime/gmime_support.h"

namespace mailvane::mime {
namespace {

constexpr std::size_t kLineHead = 4096;       // bytes of a line looked at
constexpr std::size_t kMaxBoundaries = 10000;  // distinct boundaries remembered
constexpr std::size_t kMaxShortenedFields = 100;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(g_ascii_tolower(c));
  return out;
}

std::string SizeText(std::size_t bytes) {
  return bytes % (1u << 20) == 0 ? std::to_string(bytes >> 20) + " MB"
                                 : std::to_string(bytes >> 10) + " KB";
}

}  // namespace

// Follows the message line by line the way GMime will read it: header blocks (the
// message's, each part's, each attached message's) and bodies, where a line naming a
// boundary starts a part. Only offsets are kept, never the lines themselves.
class CutFinder {
 public:
  CutFinder(const MessageLimits& limits, bool passed_once)
      : limits_(limits), passed_once_(passed_once) {}

  bool done() const { return cuts_.end >= 0; }
  // In a body only a line starting with "--" can change anything.
  bool in_body() const { return !in_headers_; }
  gint64 end() const { return cuts_.end; }

  // One line: where it starts, its first bytes and its whole length (line end included).
  void Line(gint64 at, std::string_view head, std::size_t length) {
    std::string_view text = head;
    if (text.size() == length) {
      if (text.ends_with('\n')) text.remove_suffix(1);
      if (text.ends_with('\r')) text.remove_suffix(1);
    }
    if (text.starts_with("--") && StartsPart(text.substr(2))) {
      EndField(at);
      if (done()) return;
      if (++parts_ > limits_.max_parts) {
        CutOff(at, "the message holds more than " + std::to_string(limits_.max_parts) +
                       " MIME parts; the parts after that were left out");
        return;
      }
      in_headers_ = true;
      block_is_message_ = false;
      block_is_encoded_ = false;
      return;
    }
    if (!in_headers_) return;
    if (text.empty()) {  // the empty line that ends a header block
      EndField(at);
      // An attached message's own headers follow, unless it is encoded: GMime then
      // keeps it as a leaf part.
      in_headers_ = block_is_message_ && !block_is_encoded_;
      block_is_message_ = false;
      block_is_encoded_ = false;
      return;
    }
    if (text.front() == ' ' || text.front() == '\t') {
      if (field_start_ < 0) {  // folded lines with no field before them: counted all the same
        field_start_ = at;
        field_bytes_ = 0;
        field_name_ = "folded";
        in_content_type_ = false;
      }
      field_bytes_ += length;
      if (in_content_type_) ContentType(text, length);
      return;
    }
    EndField(at);
    if (done()) return;
    if (++fields_ > limits_.max_header_fields) {
      CutOff(at, "the message holds more than " + std::to_string(limits_.max_header_fields) +
                     " header fields; what follows them was left out");
      return;
    }
    field_start_ = at;
    field_bytes_ = length;
    field_name_ = FieldName(text);
    const std::string name = Lower(field_name_);
    in_content_type_ = name == "content-type";
    if (in_content_type_) ContentType(text, length);
    if (name == "content-transfer-encoding") {
      const std::string value = Lower(text);
      block_is_encoded_ = value.find("base64") != std::string::npos ||
                          value.find("quoted-printable") != std::string::npos ||
                          value.find("uuencode") != std::string::npos;
    }
  }

  // A line not yet ended (its first bytes and its length so far): once bytes are passed
  // on as they come, a header field must be cut off before it has ended.
  void Pending(gint64 at, std::string_view head, std::size_t length) {
    if (!passed_once_ || !in_headers_ || head.empty()) return;
    const bool folded = (head.front() == ' ' || head.front() == '\t') && field_start_ >= 0;
    if ((folded ? field_bytes_ + length : length) <= limits_.max_header_field) return;
    CutOff(folded ? field_start_ : at, LongFieldCutOff(folded ? field_name_ : FieldName(head)));
  }

  MessageCuts Finish(gint64 size) {
    if (!done() && in_headers_) EndField(size);
    cuts_.size = size;
    return std::move(cuts_);
  }

 private:
  bool StartsPart(std::string_view rest) {
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
    if (boundaries_.contains(std::string(rest))) return true;
    // Past what is remembered, any delimiter line that does not close counts.
    return any_boundary_ && !rest.ends_with("--");
  }

  // A line of a Content-Type field: an attached message follows its part's headers, and
  // a multipart names its boundary.
  void ContentType(std::string_view text, std::size_t length) {
    // A boundary may sit past the bytes looked at, or be encoded in pieces (RFC 2231).
    if (length > kLineHead) any_boundary_ = true;
    const std::string lower = Lower(text);
    if (lower.find("message/") != std::string::npos &&
        lower.find("message/partial") == std::string::npos &&
        lower.find("message/external-body") == std::string::npos) {
      block_is_message_ = true;
    }
    for (std::size_t at = lower.find("boundary"); at != std::string::npos;
         at = lower.find("boundary", at + 1)) {
      std::size_t i = at + 8;
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
      if (i < text.size() && text[i] == '*') any_boundary_ = true;
      if (i >= text.size() || text[i] != '=') continue;
      ++i;
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
      std::string_view value = text.substr(i);
      if (value.starts_with('"')) {
        value = value.substr(1, value.find('"', 1) - 1);
      } else {
        value = value.substr(0, value.find_first_of("; \t"));
      }
      if (boundaries_.size() < kMaxBoundaries) {
        boundaries_.emplace(value);
      } else {
        any_boundary_ = true;
      }
    }
  }

  void EndField(gint64 next) {
    if (field_start_ < 0) return;
    const gint64 start = field_start_;
    field_start_ = -1;
    header_bytes_ += std::min(field_bytes_, limits_.max_header_field);
    if (header_bytes_ > limits_.max_header_bytes) {
      CutOff(start, "the message's header fields pass " + SizeText(limits_.max_header_bytes) +
                        "; what follows was left out");
      return;
    }
    if (field_bytes_ <= limits_.max_header_field) return;
    if (passed_once_) {
      CutOff(start, LongFieldCutOff(field_name_));
      return;
    }
    if (cuts_.dropped.size() >= kMaxShortenedFields) {
      CutOff(start, "more than " + std::to_string(kMaxShortenedFields) + " header fields pass " +
                        SizeText(limits_.max_header_field) + "; what follows was left out");
      return;
    }
    cuts_.dropped.emplace_back(start + static_cast<gint64>(limits_.max_header_field), next);
    cuts_.warnings.push_back("the " + field_name_ + " header field (" +
                             std::to_string(field_bytes_) + " bytes) was cut to its first " +
                             SizeText(limits_.max_header_field));
  }

  static std::string FieldName(std::string_view line) {
    std::string name(line.substr(0, std::min<std::size_t>(line.find(':'), 64)));
    for (char& c : name) {
      if (c < 0x21 || c > 0x7E) c = '?';  // the name goes into the report as it is
    }
    return name;
  }

  std::string LongFieldCutOff(const std::string& name) const {
    return "the " + name + " header field passes " + SizeText(limits_.max_header_field) +
           "; the message was cut off where it starts";
  }

  void CutOff(gint64 at, std::string why) {
    cuts_.end = at;
    cuts_.warnings.push_back(std::move(why) + " (from byte " + std::to_string(at) + " on)");
  }

  const MessageLimits& limits_;
  const bool passed_once_;  // fed bytes are gone: nothing can be left out behind the scan
  MessageCuts cuts_;
  std::unordered_set<std::string> boundaries_;
  bool any_boundary_ = false;
  bool in_headers_ = true;
  bool block_is_message_ = false;
  bool block_is_encoded_ = false;
  bool in_content_type_ = false;
  gint64 field_start_ = -1;
  std::size_t field_bytes_ = 0;
  std::string field_name_;
  std::size_t parts_ = 0;
  std::size_t fields_ = 0;
  std::size_t header_bytes_ = 0;
};

CutScanner::CutScanner(const MessageLimits& limits, bool passed_once)
    : finder_(std::make_unique<CutFinder>(limits, passed_once)) {}
CutScanner::~CutScanner() = default;

bool CutScanner::done() const { return finder_->done(); }
gint64 CutScanner::end() const { return finder_->end(); }

void CutScanner::Feed(const char* data, std::size_t size) {
  const char* p = data;
  const char* end = data + size;
  while (p < end && !finder_->done()) {
    if (length_ == 0 && finder_->in_body() && !(end - p >= 2 && p[0] == '-' && p[1] == '-')) {
      // Straight to the next line that starts with "--" (or with "-" at the end of the
      // piece), else to the last line of the piece.
      const char* next = nullptr;
      for (const char* q = p; !next && (q = static_cast<const char*>(std::memchr(
                                            q, '-', static_cast<std::size_t>(end - q))));
           ++q) {
        if (q > p && q[-1] == '\n' && (q + 1 == end || q[1] == '-')) next = q;
      }
      if (!next) {
        next = static_cast<const char*>(::memrchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (next) ++next;
      }
      if (next && next > p) {
        line_at_ += next - p;
        p = next;
        continue;
      }
    }
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const char* stop = nl ? nl + 1 : end;
    const auto piece = static_cast<std::size_t>(stop - p);
    if (nl && length_ == 0) {  // the whole line is in this piece
      finder_->Line(line_at_, std::string_view(p, std::min(piece, kLineHead)), piece);
      line_at_ += static_cast<gint64>(piece);
    } else {
      if (head_.size() < kLineHead) head_.append(p, std::min(piece, kLineHead - head_.size()));
      length_ += piece;
      if (nl) {
        finder_->Line(line_at_, head_, length_);
        line_at_ += static_cast<gint64>(length_);
        head_.clear();
        length_ = 0;
      }
    }
    p = stop;
  }
  if (length_ > 0 && !finder_->done()) finder_->Pending(line_at_, head_, length_);
}

MessageCuts CutScanner::Finish() {
  if (length_ > 0 && !finder_->done()) finder_->Line(line_at_, head_, length_);
  return finder_->Finish(line_at_ + static_cast<gint64>(length_));
}

MessageCuts FindCuts(GMimeStream* stream, const MessageLimits& limits) {
  CutScanner scanner(limits);
  char buf[65536];
  while (!scanner.done()) {
    const ssize_t n = g_mime_stream_read(stream, buf, sizeof buf);
    if (n <= 0) break;
    scanner.Feed(buf, static_cast<std::size_t>(n));
  }
  g_mime_stream_reset(stream);
  return scanner.Finish();
}

GMimeStream* WithoutCuts(GMimeStream* stream, const MessageCuts& cuts) {
  const gint64 start = stream->bound_start;
  const gint64 stop = cuts.end >= 0 ? cuts.end : cuts.size;
  if (cuts.dropped.empty()) return g_mime_stream_substream(stream, start, start + stop);
  GMimeStream* cat = g_mime_stream_cat_new();
  auto add = [&](GMimeStream* piece) {
    g_mime_stream_cat_add_source(GMIME_STREAM_CAT(cat), piece);
    g_object_unref(piece);
  };
  gint64 from = 0;
  for (const auto& [first, next] : cuts.dropped) {
    if (first >= stop) break;
    add(g_mime_stream_substream(stream, start + from, start + first));
    add(g_mime_stream_mem_new_with_buffer("\n", 1));
    from = std::min(next, stop);
  }
  if (from < stop) add(g_mime_stream_substream(stream, start + from, start + stop));
  return cat;
}

}  // namespace mailvane::mime
