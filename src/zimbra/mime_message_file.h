// One MIME message loaded from a file with GMime, seen as a mail program sees it: a list
// of attachments, each with its own (decoded) file name and its decoded content.
#pragma once

#include <string>
#include <vector>

typedef struct _GMimeMessage GMimeMessage;
typedef struct _GMimeObject GMimeObject;

namespace mailvane::zimbra {

class MimeMessageFile {
 public:
  // Loads the message; raises std::runtime_error when the file cannot be read or holds
  // no message.
  explicit MimeMessageFile(const std::string& path);
  ~MimeMessageFile();
  MimeMessageFile(const MimeMessageFile&) = delete;
  MimeMessageFile& operator=(const MimeMessageFile&) = delete;

  // Parts with a disposition of attachment, and named parts that are not a text/plain,
  // text/html or text/calendar body; in the message's order. An attached message counts
  // as one attachment; its own parts are not looked into.
  int AttachmentCount() const { return static_cast<int>(parts_.size()); }
  // The attachment's file name as the message gives it, decoded; "" when it has none.
  std::string AttachmentFileName(int index) const;
  // Writes the attachment's decoded content to a new file at path (which must not exist;
  // a link there is not followed). Raises std::system_error / std::runtime_error.
  void SaveAttachment(int index, const std::string& path) const;

 private:
  void Collect(GMimeObject* object);
  GMimeObject* Part(int index) const;

  GMimeMessage* message_ = nullptr;
  std::vector<GMimeObject*> parts_;  // borrowed from message_
};

}  // namespace mailvane::zimbra
