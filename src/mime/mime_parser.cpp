#include "mime/mime_parser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "mime/charset_text.h"
#include "mime/gmime_support.h"
#include "mime/message_limits.h"
#include "mime/message_mapping.h"
#include "mime/reader_stream.h"
#include "mime/unended_headers.h"
#include "pst/messaging/property_tags.h"

namespace mailvane::mime {
namespace {

// Text that GMime could not take as a message at all: keep it as the body.
ParsedMessage NotMime(GMimeStream* stream) {
  ParsedMessage out;
  out.warnings.push_back("not an RFC 822 message; its content was kept as the plain-text body");
  out.properties.push_back({pst::messaging::kPrMessageClass, pst::ltp::PropValue::String("IPM.Note")});
  std::string bytes;
  if (g_mime_stream_reset(stream) != 0) {
    out.warnings.push_back("it could not be read again from its start: only its last part was kept");
  }
  char buf[65536];
  for (;;) {
    const ssize_t n = g_mime_stream_read(stream, buf, sizeof buf);
    if (n <= 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  if (!bytes.empty()) {
    out.properties.push_back({pst::messaging::kPrBody, pst::ltp::PropValue::String(DecodeToUtf8(bytes, {}).utf8)});
    out.properties.push_back({pst::messaging::kPrInternetCpid, pst::ltp::PropValue::Int32(65001)});
  }
  out.properties.push_back({pst::messaging::kPrHasAttachments, pst::ltp::PropValue::Boolean(false)});
  return out;
}

// Parses a stream already mended where its headers ran into the body. A stream that is
// read only once cannot be kept by the parts.
ParsedMessage Construct(GMimeStream* stream, bool mended, bool keep_stream) {
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
  g_mime_parser_set_persist_stream(parser.get(), keep_stream);
  GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), LooseParserOptions()));
  ParsedMessage out = message ? MapMessage(message.get(), 0) : NotMime(stream);
  if (mended && message) {
    out.warnings.push_back("no empty line ended the headers; the body was taken to start at "
                           "the first line that is not a header");
  }
  return out;
}

ParsedMessage ParseStream(GMimeStream* stream) {
  // GMime would drop the lines of a body that follows the headers without an empty line.
  const UnendedHeaders unended = FindUnendedHeaders(stream);
  if (unended.body >= 0 && !unended.after_message_header) return NotMime(stream);
  GPtr<GMimeStream> mended(unended.body >= 0 ? WithEmptyLineAt(stream, unended.body) : nullptr);
  if (mended) stream = mended.get();
  MessageCuts cuts = FindCuts(stream);
  GPtr<GMimeStream> cut(cuts.empty() ? nullptr : WithoutCuts(stream, cuts));
  if (cut) stream = cut.get();
  ParsedMessage out = Construct(stream, mended != nullptr, true);
  for (std::string& w : cuts.warnings) out.warnings.push_back(std::move(w));
  return out;
}

// Warnings not given yet: a head cut off early is looked through again by ParseStream.
void AddWarnings(std::vector<std::string> warnings, ParsedMessage& out) {
  for (std::string& w : warnings) {
    if (std::find(out.warnings.begin(), out.warnings.end(), w) == out.warnings.end()) {
      out.warnings.push_back(std::move(w));
    }
  }
}

// Up to limit bytes of reader into a new array, sized for the expected length (and one
// byte more, to see the end) and grown in steps past it.
GByteArray* ReadUpTo(source::ByteReader& reader, std::size_t limit, std::size_t expected,
                     bool& ended) {
  constexpr std::size_t kStep = 65536;
  const std::size_t first = std::min(limit, expected + 1);
  GByteArray* bytes = g_byte_array_sized_new(static_cast<guint>(first));
  std::size_t have = 0;
  ended = false;
  try {
    while (have < limit) {
      if (bytes->len == have) {
        g_byte_array_set_size(bytes, static_cast<guint>(have == 0 ? first : std::min(limit, have + kStep)));
      }
      const std::size_t n = reader.Read(reinterpret_cast<char*>(bytes->data) + have, bytes->len - have);
      if (n == 0) {
        ended = true;
        break;
      }
      have += n;
    }
  } catch (...) {
    g_byte_array_free(bytes, TRUE);
    throw;
  }
  g_byte_array_set_size(bytes, static_cast<guint>(have));
  return bytes;
}

}  // namespace

ParsedMessage MapMessage(GMimeMessage* message, int depth) {
  ParsedMessage out;
  MapHeaders(message, out);
  MapContent(g_mime_message_get_mime_part(message), depth, out);
  return out;
}

ParsedMessage ParseMimeFile(const std::filesystem::path& file) {
  EnsureGMimeInitialized();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(),
                            "cannot open message file " + file.string());
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno ? errno : EINVAL;
    ::close(fd);
    throw std::system_error(err, std::generic_category(),
                            "cannot read message file " + file.string());
  }
  // Most messages are read whole with one call: GMime parsing from a file stream seeks
  // and reads again for every part. Large ones are streamed so memory stays bounded.
  constexpr off_t kReadWhole = 8 << 20;
  if (st.st_size > kReadWhole) {
    GPtr<GMimeStream> stream(g_mime_stream_fs_new(fd));  // owns fd from here
    return ParseStream(stream.get());
  }
  GByteArray* bytes = g_byte_array_sized_new(static_cast<guint>(st.st_size + 65536));
  GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(bytes));  // owns bytes
  std::size_t have = 0;
  for (;;) {
    // Read to the end, not just st_size bytes: the file may have grown since.
    if (bytes->len - have < 65536) g_byte_array_set_size(bytes, static_cast<guint>(have + 65536));
    const ssize_t n = ::read(fd, bytes->data + have, bytes->len - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      throw std::system_error(err, std::generic_category(),
                              "cannot read message file " + file.string());
    }
    if (n == 0) break;
    have += static_cast<std::size_t>(n);
  }
  ::close(fd);
  g_byte_array_set_size(bytes, static_cast<guint>(have));  // the stream ends where the array does
  return ParseStream(stream.get());
}

ParsedMessage ParseMimeBytes(std::string_view bytes) {
  EnsureGMimeInitialized();
  // An empty view may carry a null pointer, which GMime refuses with a critical warning
  // and no stream; an empty message is still a message.
  const char* data = bytes.empty() ? "" : bytes.data();
  GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(data, bytes.size()));
  return ParseStream(stream.get());
}

ParsedMessage ParseMimeReader(source::ByteReader& reader, std::uint64_t size) {
  EnsureGMimeInitialized();
  // A message of known size up to kMaxHeldBytes is read whole into the buffer GMime parses.
  // A larger one only as far as the check of its headers needs; the rest is parsed as it is
  // read, so only its parts are held, never a second copy of the whole.
  const bool whole = size > 0 && size <= source::kMaxHeldBytes;
  const std::size_t limit = whole ? source::kMaxHeldBytes + 1 : static_cast<std::size_t>(kUnendedScanBytes);
  bool ended = false;
  GByteArray* bytes = ReadUpTo(reader, limit, whole ? static_cast<std::size_t>(size) : limit, ended);
  GPtr<GMimeStream> head(g_mime_stream_mem_new_with_byte_array(bytes));
  if (ended) return ParseStream(head.get());
  // What is read only once cannot be looked through before it is parsed: the limits of a
  // message are checked as it passes, and it ends where it must be cut off.
  CutScanner cuts(kMessageLimits, true);
  cuts.Feed(reinterpret_cast<const char*>(bytes->data), bytes->len);
  if (cuts.done()) {
    g_byte_array_set_size(bytes, static_cast<guint>(cuts.end()));
    ParsedMessage out = ParseStream(head.get());
    AddWarnings(cuts.Finish().warnings, out);
    return out;
  }
  GPtr<GMimeStream> rest(NewReaderStream(reader, cuts, static_cast<gint64>(bytes->len)));
  const UnendedHeaders unended = FindUnendedHeaders(head.get());
  GPtr<GMimeStream> stream(unended.body >= 0 ? WithEmptyLineAt(head.get(), unended.body)
                                             : g_mime_stream_cat_new());
  if (unended.body < 0) g_mime_stream_cat_add_source(GMIME_STREAM_CAT(stream.get()), head.get());
  g_mime_stream_cat_add_source(GMIME_STREAM_CAT(stream.get()), rest.get());
  ParsedMessage out = unended.body >= 0 && !unended.after_message_header
                          ? NotMime(stream.get())
                          : Construct(stream.get(), unended.body >= 0, false);
  if (std::string failure = ReaderStreamFailure(rest.get()); !failure.empty()) {
    throw std::runtime_error(failure);
  }
  // Only the end can be cut from a stream read once (an over-long header field ends the
  // message where it starts), and its reason is the last warning.
  MessageCuts found = cuts.Finish();
  if (found.end >= 0 && !found.warnings.empty()) AddWarnings({found.warnings.back()}, out);
  return out;
}

}  // namespace mailvane::mime
