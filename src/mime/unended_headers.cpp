#include "mime/unended_headers.h"

#include <string>
#include <string_view>

#include "mime/gmime_support.h"

namespace mailvane::mime {
namespace {

constexpr std::size_t kChunk = 4096;
constexpr std::size_t kMaxScan = static_cast<std::size_t>(kUnendedScanBytes) - kChunk;

std::string_view FieldName(std::string_view line) {
  std::string_view name = line.substr(0, line.find(':'));
  const auto end = name.find_last_not_of(" \t");
  return end == std::string_view::npos ? std::string_view() : name.substr(0, end + 1);
}

// As GMime takes a header: a name without blanks or control characters, then a colon.
bool IsHeaderLine(std::string_view line) {
  if (line.find(':') == std::string_view::npos) return false;
  for (char ch : FieldName(line)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == 0x7F) return false;
  }
  return true;
}

// The headers after which GMime's own later versions take such a line as the body.
bool IsMessageHeader(std::string_view line) {
  const std::string_view name = FieldName(line);
  for (const char* h : {"Subject", "From", "Date", "To", "Cc"}) {
    if (name.size() == std::char_traits<char>::length(h) &&
        g_ascii_strncasecmp(name.data(), h, name.size()) == 0) {
      return true;
    }
  }
  return false;
}

UnendedHeaders Scan(GMimeStream* stream) {
  std::string buf;
  char chunk[kChunk];  // most header blocks fit one: this scan runs for every message
  std::size_t pos = 0;
  bool eof = false;
  bool message_header = false;
  UnendedHeaders found;
  for (;;) {
    std::size_t nl = buf.find('\n', pos);
    if (nl == std::string::npos && !eof) {
      if (buf.size() >= kMaxScan) return {};
      const ssize_t n = g_mime_stream_read(stream, chunk, sizeof chunk);
      if (n > 0) buf.append(chunk, static_cast<std::size_t>(n));
      eof = n <= 0;
      continue;
    }
    if (nl == std::string::npos) {
      if (pos >= buf.size()) return found;
      nl = buf.size();
    }
    std::string_view line(buf.data() + pos, nl - pos);
    const std::size_t at = pos;
    pos = nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return found;
    if (at == 0 && line.starts_with("From ")) continue;  // an mbox separator line
    if (line.front() == ' ' || line.front() == '\t') continue;
    if (IsHeaderLine(line)) {
      if (found.body >= 0) return {};  // only a stray line in the headers: GMime's own way
      message_header = message_header || IsMessageHeader(line);
    } else if (found.body < 0) {
      if (at == 0) return {};  // GMime refuses such a file itself
      found = {static_cast<gint64>(at), message_header};
    }
  }
}

}  // namespace

UnendedHeaders FindUnendedHeaders(GMimeStream* stream) {
  const UnendedHeaders found = Scan(stream);
  g_mime_stream_reset(stream);
  return found;
}

GMimeStream* WithEmptyLineAt(GMimeStream* stream, gint64 offset) {
  const gint64 start = stream->bound_start;
  GMimeStream* cat = g_mime_stream_cat_new();
  GPtr<GMimeStream> head(g_mime_stream_substream(stream, start, start + offset));
  GPtr<GMimeStream> gap(g_mime_stream_mem_new_with_buffer("\n", 1));
  GPtr<GMimeStream> tail(g_mime_stream_substream(stream, start + offset, stream->bound_end));
  for (GMimeStream* s : {head.get(), gap.get(), tail.get()}) {
    g_mime_stream_cat_add_source(GMIME_STREAM_CAT(cat), s);
  }
  return cat;
}

}  // namespace mailvane::mime
