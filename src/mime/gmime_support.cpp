#include "mime/gmime_support.h"

#include <array>
#include <mutex>
#include <stdexcept>

#include "mime/base64_decoder.h"

namespace mailvane::mime {

void EnsureGMimeInitialized() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

std::string TakeGString(char* s) {
  std::unique_ptr<char, GFreeDeleter> owned(s);
  return s ? std::string(s) : std::string();
}

std::vector<std::uint8_t> DecodedContent(GMimePart* part) {
  std::vector<std::uint8_t> out;
  GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
  if (!wrapper) return out;
  GMimeStream* raw = g_mime_data_wrapper_get_stream(wrapper);
  if (!raw) return out;
  g_mime_stream_reset(raw);
  const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(wrapper);
  const bool encoded = encoding == GMIME_CONTENT_ENCODING_BASE64 ||
                       encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
                       encoding == GMIME_CONTENT_ENCODING_UUENCODE;
  // Decoded data is never larger than its encoded form, base64 three quarters of it:
  // reserving that bound once means the bytes are written once and never moved.
  // Not for parts of a cat stream (a mended or cut message): GMime gives their pieces the
  // whole stream's start, so the length is where the part ends, not its size.
  const gint64 raw_length = GMIME_IS_STREAM_CAT(raw) ? -1 : g_mime_stream_length(raw);
  if (raw_length > 0) {
    const auto len = static_cast<std::size_t>(raw_length);
    out.reserve((encoding == GMIME_CONTENT_ENCODING_BASE64 ? len / 4 * 3 : len) + 16);
  }
  constexpr std::size_t kChunk = 32768;
  std::array<char, kChunk> in;
  std::array<std::uint8_t, kChunk + 1024> decoded;  // above every decoder's bound for one chunk
  // Base64 is most of the bytes of real mail and has a decoder of its own; GMime undoes
  // the other encodings.
  const bool base64 = encoding == GMIME_CONTENT_ENCODING_BASE64;
  Base64Decoder base64_decoder;
  GMimeEncoding state;
  g_mime_encoding_init_decode(&state, encoding);
  if (encoded && g_mime_encoding_outlen(&state, kChunk) > decoded.size()) {
    throw std::logic_error("MIME decoder output bound exceeds its buffer");
  }
  static_assert(Base64Decoder::MaxOutput(kChunk) <= kChunk + 1024);
  // Appends as bytes, so that the copy is a memmove and not a per-element conversion.
  auto append = [&out](const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    out.insert(out.end(), b, b + n);
  };
  char* gmime_out = reinterpret_cast<char*>(decoded.data());
  for (;;) {
    const ssize_t n = g_mime_stream_read(raw, in.data(), in.size());
    if (n <= 0) break;
    const auto len = static_cast<std::size_t>(n);
    if (!encoded) {
      append(in.data(), len);
    } else if (base64) {
      append(decoded.data(), base64_decoder.Step(in.data(), len, decoded.data()));
    } else {
      append(decoded.data(), g_mime_encoding_step(&state, in.data(), len, gmime_out));
    }
  }
  if (base64) {
    append(decoded.data(), base64_decoder.Finish(decoded.data()));
  } else if (encoded) {
    append(decoded.data(), g_mime_encoding_flush(&state, nullptr, 0, gmime_out));
  }
  g_mime_stream_reset(raw);
  return out;
}

std::vector<std::uint8_t> SerializedObject(GMimeObject* object) {
  GPtr<GMimeStream> mem(g_mime_stream_mem_new());
  g_mime_object_write_to_stream(object, nullptr, mem.get());
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
  return std::vector<std::uint8_t>(bytes->data, bytes->data + bytes->len);
}

GMimeParserOptions* LooseParserOptions() {
  static GMimeParserOptions* options = [] {
    EnsureGMimeInitialized();
    GMimeParserOptions* o = g_mime_parser_options_new();
    g_mime_parser_options_set_address_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_rfc2047_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
    static const char* fallback[] = {"utf-8", "windows-1252", nullptr};
    g_mime_parser_options_set_fallback_charsets(o, fallback);
    return o;
  }();
  return options;
}

}  // namespace mailvane::mime
