// An RFC 822 / MIME message, as the MIME layer maps it, moved into an engine message:
// properties, recipients, attachments and attached messages at any depth.
#pragma once

#include "mime/parsed_message.h"
#include "pst/messaging/message.h"

namespace mailvane::store {

// Moves parsed into content (attachment bytes are moved, not copied).
void FillFromParsed(mime::ParsedMessage&& parsed, pst::messaging::MessageContent& content);

}  // namespace mailvane::store
