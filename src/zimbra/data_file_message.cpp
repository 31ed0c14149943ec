#include "zimbra/data_file_message.h"

#include <gmime/gmime.h>

#include <stdexcept>

#include "mime/gmime_support.h"
#include "mime/message_limits.h"

namespace mailvane::zimbra {
namespace {

bool IsBodyType(GMimeObject* object) {
  GMimeContentType* type = g_mime_object_get_content_type(object);
  return type && (g_mime_content_type_is_type(type, "text", "plain") ||
                  g_mime_content_type_is_type(type, "text", "html") ||
                  g_mime_content_type_is_type(type, "text", "calendar"));
}

bool HasAttachmentDisposition(GMimeObject* object) {
  GMimeContentDisposition* d = g_mime_object_get_content_disposition(object);
  return d && g_mime_content_disposition_is_attachment(d);
}

std::string NameOf(GMimeObject* object) {
  const char* name = nullptr;
  if (GMIME_IS_PART(object)) {
    name = g_mime_part_get_filename(GMIME_PART(object));
  } else {
    name = g_mime_object_get_content_disposition_parameter(object, "filename");
    if (!name) name = g_mime_object_get_content_type_parameter(object, "name");
  }
  return name ? std::string(name) : std::string();
}

}  // namespace

DataFileMessage::DataFileMessage(std::string_view text) {
  mime::EnsureGMimeInitialized();
  // The memory stream copies the text; an empty view may carry a null pointer.
  mime::GPtr<GMimeStream> stream(
      g_mime_stream_mem_new_with_buffer(text.empty() ? "" : text.data(), text.size()));
  // Cut as a message file is, so that a hostile data file costs no more memory.
  mime::MessageCuts cuts = mime::FindCuts(stream.get());
  mime::GPtr<GMimeStream> cut(cuts.empty() ? nullptr : mime::WithoutCuts(stream.get(), cuts));
  warnings_ = std::move(cuts.warnings);
  mime::GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(cut ? cut.get() : stream.get()));
  message_ = g_mime_parser_construct_message(parser.get(), nullptr);
  if (!message_) throw std::runtime_error("the data file holds no message");
  if (GMimeObject* body = g_mime_message_get_mime_part(message_)) Collect(body);
}

DataFileMessage::~DataFileMessage() {
  if (message_) g_object_unref(message_);
}

void DataFileMessage::Collect(GMimeObject* object) {
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const int count = g_mime_multipart_get_count(multipart);
    for (int i = 0; i < count; ++i) Collect(g_mime_multipart_get_part(multipart, i));
    return;
  }
  const bool named = !NameOf(object).empty();
  if (GMIME_IS_MESSAGE_PART(object)) {
    if (HasAttachmentDisposition(object) || named) parts_.push_back(object);
    return;
  }
  if (HasAttachmentDisposition(object) || (named && !IsBodyType(object))) {
    parts_.push_back(object);
  }
}

GMimeObject* DataFileMessage::Part(int index) const {
  if (index < 0 || index >= AttachmentCount()) {
    throw std::out_of_range("no attachment " + std::to_string(index));
  }
  return parts_[static_cast<std::size_t>(index)];
}

std::string DataFileMessage::AttachmentFileName(int index) const { return NameOf(Part(index)); }

std::vector<std::uint8_t> DataFileMessage::AttachmentBytes(int index) const {
  GMimeObject* object = Part(index);
  if (GMIME_IS_MESSAGE_PART(object)) {
    GMimeMessage* attached = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
    return attached ? mime::SerializedObject(GMIME_OBJECT(attached)) : std::vector<std::uint8_t>();
  }
  return mime::DecodedContent(GMIME_PART(object));
}

}  // namespace mailvane::zimbra
