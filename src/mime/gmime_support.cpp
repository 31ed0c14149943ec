#include "mime/gmime_support.h"

#include <array>
#include <mutex>

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
  const gint64 raw_length = g_mime_stream_length(raw);
  const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(wrapper);
  // Decoded data is never larger than its encoded form; base64 is three quarters of it.
  if (raw_length > 0) {
    const auto len = static_cast<std::size_t>(raw_length);
    out.reserve(encoding == GMIME_CONTENT_ENCODING_BASE64 ? len / 4 * 3 + 3 : len);
  }
  GPtr<GMimeStream> filtered(g_mime_stream_filter_new(raw));
  if (encoding != GMIME_CONTENT_ENCODING_DEFAULT && encoding != GMIME_CONTENT_ENCODING_7BIT &&
      encoding != GMIME_CONTENT_ENCODING_8BIT && encoding != GMIME_CONTENT_ENCODING_BINARY) {
    GPtr<GMimeFilter> decoder(g_mime_filter_basic_new(encoding, FALSE));
    g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), decoder.get());
  }
  std::array<char, 65536> buf;
  for (;;) {
    const ssize_t n = g_mime_stream_read(filtered.get(), buf.data(), buf.size());
    if (n <= 0) break;
    out.insert(out.end(), buf.data(), buf.data() + n);
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
