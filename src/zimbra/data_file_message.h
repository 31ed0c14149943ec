// The message of an appointment's or task's data file, parsed with GMime from memory and
// seen as a mail program sees it: a list of attachments, each with its own (decoded) file
// name and its decoded content.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

typedef struct _GMimeMessage GMimeMessage;
typedef struct _GMimeObject GMimeObject;

namespace mailvane::zimbra {

class DataFileMessage {
 public:
  // Parses text; raises std::runtime_error when it holds no message.
  explicit DataFileMessage(std::string_view text);
  ~DataFileMessage();
  DataFileMessage(const DataFileMessage&) = delete;
  DataFileMessage& operator=(const DataFileMessage&) = delete;

  // Parts with a disposition of attachment, and named parts that are not a text/plain,
  // text/html or text/calendar body; in the message's order. An attached message counts
  // as one attachment; its own parts are not looked into.
  int AttachmentCount() const { return static_cast<int>(parts_.size()); }
  // The attachment's file name as the message gives it, decoded; "" when it has none.
  std::string AttachmentFileName(int index) const;
  // The attachment's decoded content (an attached message as its RFC 822 text).
  std::vector<std::uint8_t> AttachmentBytes(int index) const;
  // What was cut from a message past the parser's limits (see mime/message_limits.h).
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  void Collect(GMimeObject* object);
  GMimeObject* Part(int index) const;

  GMimeMessage* message_ = nullptr;
  std::vector<GMimeObject*> parts_;  // borrowed from message_
  std::vector<std::string> warnings_;
};

}  // namespace mailvane::zimbra
