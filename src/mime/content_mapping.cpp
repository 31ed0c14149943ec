// MIME structure to bodies and attachments (MS-OXCMAIL 2.2.3.3 and 2.2.3.4): the first
// text/plain and text/html parts that are not attachments make the bodies, every other
// leaf an attachment, message/rfc822 parts embedded messages.
#include <limits>
#include <string>

#include "base/sizes.h"
#include "mime/attachment_names.h"
#include "mime/charset_text.h"
#include "mime/gmime_support.h"
#include "mime/message_mapping.h"
#include "mime/mime_parser.h"
#include "pst/messaging/property_tags.h"

namespace mailvane::mime {
namespace {

using pst::ltp::PropValue;

enum class Context { kBody, kAlternative, kRelatedPart, kAttachment };

bool IsType(GMimeObject* o, const char* type, const char* subtype) {
  GMimeContentType* ct = g_mime_object_get_content_type(o);
  return ct && g_mime_content_type_is_type(ct, type, subtype);
}

std::string MimeTypeOf(GMimeObject* o) {
  GMimeContentType* ct = g_mime_object_get_content_type(o);
  std::string type = ct ? TakeGString(g_mime_content_type_get_mime_type(ct)) : std::string();
  for (auto& c : type) c = static_cast<char>(g_ascii_tolower(c));
  return type.empty() ? "application/octet-stream" : type;
}

std::string CharsetOf(GMimeObject* o) {
  GMimeContentType* ct = g_mime_object_get_content_type(o);
  const char* cs = ct ? g_mime_content_type_get_parameter(ct, "charset") : nullptr;
  return cs ? cs : "";
}

bool IsAttachmentDisposition(GMimeObject* o) {
  GMimeContentDisposition* d = g_mime_object_get_content_disposition(o);
  return d && g_mime_content_disposition_is_attachment(d);
}

class ContentMapper {
 public:
  explicit ContentMapper(ParsedMessage& out) : out_(out) {}

  void Walk(GMimeObject* o, int depth, Context context) {
    if (GMIME_IS_MULTIPART(o) || GMIME_IS_MESSAGE_PART(o)) {
      if (depth >= kMaxNestingDepth) {
        KeepRaw(o, "nested deeper than " + std::to_string(kMaxNestingDepth) + " levels");
        return;
      }
    }
    if (GMIME_IS_MULTIPART(o)) {
      WalkMultipart(GMIME_MULTIPART(o), depth, context);
    } else if (GMIME_IS_MESSAGE_PART(o)) {
      AddEmbedded(GMIME_MESSAGE_PART(o), depth);
    } else if (GMIME_IS_PART(o)) {
      Leaf(GMIME_PART(o), context);
    } else {
      KeepRaw(o, "of a kind GMime does not describe");
    }
  }

  void Finish() {
    std::int32_t cpid = 0;
    if (text_) {
      const auto bytes = DecodedContent(text_);
      const std::string charset = CharsetOf(GMIME_OBJECT(text_));
      const DecodedText text = Decode(bytes, charset, "text");
      out_.properties.push_back({pst::messaging::kPrBody, PropValue::String(text.utf8)});
      if (!text.fell_back) cpid = CodePageOfCharset(charset.empty() ? "us-ascii" : charset);
    }
    if (html_) {
      auto bytes = DecodedContent(html_);
      const std::string charset = CharsetOf(GMIME_OBJECT(html_));
      const DecodedText text = Decode(bytes, charset, "HTML");
      // PidTagHtml is read in the code page PidTagInternetCodepage names: keep the
      // sender's bytes when their charset has a code page and fits them, else store UTF-8.
      cpid = text.fell_back || charset.empty() ? 0 : CodePageOfCharset(charset);
      if (cpid == kUsAsciiCodePage && !IsAscii(bytes)) cpid = 0;
      if (cpid == 0) {
        bytes.assign(text.utf8.begin(), text.utf8.end());
        cpid = kUtf8CodePage;
      }
      // An empty HTML part gives no body property: an empty one reads as a missing value.
      if (!bytes.empty()) out_.properties.push_back({pst::messaging::kPrHtml, PropValue::Binary(std::move(bytes))});
    }
    if (text_ || html_) {
      out_.properties.push_back({pst::messaging::kPrInternetCpid, PropValue::Int32(cpid == 0 ? kUtf8CodePage : cpid)});
    }
  }

 private:
  static constexpr std::int32_t kUtf8CodePage = 65001;
  static constexpr std::int32_t kUsAsciiCodePage = 20127;

  void Warn(std::string w) { out_.warnings.push_back(std::move(w)); }

  static bool IsAscii(const std::vector<std::uint8_t>& bytes) {
    for (auto b : bytes) {
      if (b >= 0x80) return false;
    }
    return true;
  }

  DecodedText Decode(const std::vector<std::uint8_t>& bytes, const std::string& charset, const char* what) {
    DecodedText text = DecodeToUtf8({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, charset);
    if (text.fell_back) {
      Warn(std::string("the ") + what + " body's charset \"" + charset +
           "\" is unknown or does not fit its bytes; read as UTF-8 or Windows-1252");
    }
    return text;
  }

  void WalkMultipart(GMimeMultipart* mp, int depth, Context context) {
    GMimeObject* o = GMIME_OBJECT(mp);
    const int n = g_mime_multipart_get_count(mp);
    const bool body = context == Context::kBody || context == Context::kAlternative;
    if (IsType(o, "multipart", "alternative")) {
      for (int i = 0; i < n; ++i) {
        Walk(g_mime_multipart_get_part(mp, i), depth + 1, body ? Context::kAlternative : context);
      }
      return;
    }
    if (IsType(o, "multipart", "related")) {
      // The root is named by the start parameter, else it is the first part.
      int root = 0;
      GMimeContentType* ct = g_mime_object_get_content_type(o);
      if (const char* start = ct ? g_mime_content_type_get_parameter(ct, "start") : nullptr) {
        std::string id(start);
        if (id.size() > 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
        for (int i = 0; i < n; ++i) {
          const char* cid = g_mime_object_get_content_id(g_mime_multipart_get_part(mp, i));
          if (cid && id == cid) root = i;
        }
      }
      for (int i = 0; i < n; ++i) {
        Walk(g_mime_multipart_get_part(mp, i), depth + 1,
             i == root ? context : Context::kRelatedPart);
      }
      return;
    }
    // mixed, signed, digest, report and unknown kinds: parts in order; text parts met
    // before any body is found become the body. The first part stands where the
    // multipart stands (one rendering of an alternative, the root of a related).
    for (int i = 0; i < n; ++i) {
      const Context inner = i == 0 || context == Context::kRelatedPart ? context
                            : body                                     ? Context::kBody
                                                                       : Context::kAttachment;
      Walk(g_mime_multipart_get_part(mp, i), depth + 1, inner);
    }
  }

  void Leaf(GMimePart* part, Context context) {
    GMimeObject* o = GMIME_OBJECT(part);
    const bool candidate = (context == Context::kBody || context == Context::kAlternative) &&
                           !IsAttachmentDisposition(o) && !g_mime_part_get_filename(part);
    if (candidate) {
      const bool plain = IsType(o, "text", "plain");
      const bool html = IsType(o, "text", "html");
      if (plain && !text_ && (!html_ || context == Context::kAlternative)) {
        text_ = part;
        return;
      }
      if (html && !html_ && (!text_ || context == Context::kAlternative)) {
        html_ = part;
        return;
      }
      // Further renderings of the same content in an alternative are not attachments.
      if (context == Context::kAlternative && (plain || html || IsType(o, "text", "enriched") ||
                                               IsType(o, "text", "richtext"))) {
        return;
      }
    }
    AddByValue(part, context == Context::kRelatedPart);
  }

  void AddByValue(GMimePart* part, bool related) {
    GMimeObject* o = GMIME_OBJECT(part);
    ParsedAttachment att;
    att.data = DecodedContent(part);
    auto& p = att.properties;
    p.push_back({pst::messaging::kPrAttachMethod, PropValue::Int32(pst::messaging::kAttachByValue)});
    AddNames(p, SafeFileName(g_mime_part_get_filename(part) ? g_mime_part_get_filename(part) : ""));
    p.push_back({pst::messaging::kPrAttachMimeTag, PropValue::String(MimeTypeOf(o))});
    const char* cid = g_mime_object_get_content_id(o);
    const char* location = g_mime_object_get_header(o, "Content-Location");
    if (cid && *cid) p.push_back({pst::messaging::kPrAttachContentId, PropValue::String(cid)});
    if (location && *location) p.push_back({pst::messaging::kPrAttachContentLocation, PropValue::String(location)});
    // Parts an HTML body refers to are shown in it, not in the attachment well.
    const bool referenced = related && ((cid && *cid) || (location && *location));
    if (referenced) p.push_back({pst::messaging::kPrAttachFlags, PropValue::Int32(pst::messaging::kAttachMhtmlRef)});
    p.push_back({pst::messaging::kPrAttachmentHidden, PropValue::Boolean(referenced)});
    p.push_back({pst::messaging::kPrAttachSize, PropValue::Int32(base::ClampToInt32(att.data.size()))});
    p.push_back({pst::messaging::kPrRenderingPosition, PropValue::Int32(-1)});
    out_.attachments.push_back(std::move(att));
  }

  static void AddNames(PropertyList& p, const std::string& name) {
    if (name.empty()) return;
    p.push_back({pst::messaging::kPrAttachLongFilename, PropValue::String(name)});
    p.push_back({pst::messaging::kPrAttachFilename, PropValue::String(ShortFileName(name))});
    p.push_back({pst::messaging::kPrDisplayName, PropValue::String(name)});
    const std::string ext = ExtensionOf(name);
    if (!ext.empty()) p.push_back({pst::messaging::kPrAttachExtension, PropValue::String(ext)});
  }

  void AddEmbedded(GMimeMessagePart* mp, int depth) {
    GMimeMessage* inner = g_mime_message_part_get_message(mp);
    if (!inner) {
      KeepRaw(GMIME_OBJECT(mp), "without a message in it");
      return;
    }
    ParsedAttachment att;
    att.embedded = std::make_unique<ParsedMessage>(MapMessage(inner, depth + 1));
    constexpr std::string_view kPrefix = "in an attached message: ";
    for (auto& w : att.embedded->warnings) {
      Warn(std::string_view(w).starts_with(kPrefix) ? w : std::string(kPrefix) + w);
    }
    auto& p = att.properties;
    p.push_back({pst::messaging::kPrAttachMethod, PropValue::Int32(pst::messaging::kAttachEmbeddedMsg)});
    p.push_back({pst::messaging::kPrAttachMimeTag, PropValue::String("message/rfc822")});
    const pst::ltp::PropValue* subject = att.embedded->Find(pst::messaging::kPrSubject);
    p.push_back({pst::messaging::kPrDisplayName, subject ? *subject : PropValue::String("")});
    p.push_back({pst::messaging::kPrAttachmentHidden, PropValue::Boolean(false)});
    p.push_back({pst::messaging::kPrRenderingPosition, PropValue::Int32(-1)});
    out_.attachments.push_back(std::move(att));
  }

  // A part left unparsed: its serialized form as a by-value attachment.
  void KeepRaw(GMimeObject* o, const std::string& why) {
    Warn("a " + MimeTypeOf(o) + " part " + why + " was kept unparsed as an attachment");
    ParsedAttachment att;
    att.data = SerializedObject(o);
    auto& p = att.properties;
    p.push_back({pst::messaging::kPrAttachMethod, PropValue::Int32(pst::messaging::kAttachByValue)});
    AddNames(p, "nested-part-" + std::to_string(out_.attachments.size() + 1) + ".eml");
    p.push_back({pst::messaging::kPrAttachMimeTag, PropValue::String("message/rfc822")});
    p.push_back({pst::messaging::kPrAttachmentHidden, PropValue::Boolean(false)});
    p.push_back({pst::messaging::kPrAttachSize, PropValue::Int32(base::ClampToInt32(att.data.size()))});
    p.push_back({pst::messaging::kPrRenderingPosition, PropValue::Int32(-1)});
    out_.attachments.push_back(std::move(att));
  }

  ParsedMessage& out_;
  GMimePart* text_ = nullptr;
  GMimePart* html_ = nullptr;
};

}  // namespace

void MapContent(GMimeObject* content, int depth, ParsedMessage& out) {
  ContentMapper mapper(out);
  if (content) mapper.Walk(content, depth, Context::kBody);
  mapper.Finish();
  out.properties.push_back({pst::messaging::kPrHasAttachments, PropValue::Boolean(!out.attachments.empty())});
}

}  // namespace mailvane::mime
