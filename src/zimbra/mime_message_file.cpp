#include "zimbra/mime_message_file.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <system_error>

namespace mailvane::zimbra {
namespace {

void InitGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

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

// Owns a GMime stream; closes it (reporting a failed close) and drops the reference.
class StreamGuard {
 public:
  explicit StreamGuard(GMimeStream* s) : s_(s) {}
  ~StreamGuard() {
    if (s_) g_object_unref(s_);
  }
  StreamGuard(const StreamGuard&) = delete;
  StreamGuard& operator=(const StreamGuard&) = delete;
  GMimeStream* get() const { return s_; }

 private:
  GMimeStream* s_;
};

}  // namespace

MimeMessageFile::MimeMessageFile(const std::string& path) {
  InitGMime();
  GError* error = nullptr;
  StreamGuard stream(g_mime_stream_fs_open(path.c_str(), O_RDONLY | O_CLOEXEC, 0, &error));
  if (!stream.get()) {
    std::string why = error ? error->message : "unknown error";
    if (error) g_error_free(error);
    throw std::runtime_error("cannot open the message file " + path + ": " + why);
  }
  GMimeParser* parser = g_mime_parser_new_with_stream(stream.get());
  message_ = g_mime_parser_construct_message(parser, nullptr);
  g_object_unref(parser);
  if (!message_) throw std::runtime_error("the message file " + path + " holds no message");
  if (GMimeObject* body = g_mime_message_get_mime_part(message_)) Collect(body);
}

MimeMessageFile::~MimeMessageFile() {
  if (message_) g_object_unref(message_);
}

void MimeMessageFile::Collect(GMimeObject* object) {
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

GMimeObject* MimeMessageFile::Part(int index) const {
  if (index < 0 || index >= AttachmentCount()) {
    throw std::out_of_range("no attachment " + std::to_string(index));
  }
  return parts_[static_cast<std::size_t>(index)];
}

std::string MimeMessageFile::AttachmentFileName(int index) const { return NameOf(Part(index)); }

void MimeMessageFile::SaveAttachment(int index, const std::string& path) const {
  GMimeObject* object = Part(index);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot create " + path);
  StreamGuard stream(g_mime_stream_fs_new(fd));  // owns fd from here on
  ssize_t written = 0;
  if (GMIME_IS_MESSAGE_PART(object)) {
    GMimeMessage* attached = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
    if (attached) written = g_mime_object_write_to_stream(GMIME_OBJECT(attached), nullptr, stream.get());
  } else if (GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object))) {
    written = g_mime_data_wrapper_write_to_stream(content, stream.get());
  }
  if (written < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot write " + path);
  }
  if (g_mime_stream_close(stream.get()) != 0) {
    throw std::system_error(errno, std::generic_category(), "cannot close " + path);
  }
}

}  // namespace mailvane::zimbra
