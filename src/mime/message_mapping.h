// The steps of the MIME-to-MAPI mapping over a parsed GMime message; used by the parser
// entry points and, for attached messages, by the content mapping itself.
#pragma once

#include <gmime/gmime.h>

#include "mime/parsed_message.h"

namespace mailvane::mime {

// The whole message: headers, then bodies and attachments. depth counts the multiparts
// and attached messages around it.
ParsedMessage MapMessage(GMimeMessage* message, int depth);

// Subject, addresses, recipients, dates, identifiers, transport headers, class.
void MapHeaders(GMimeMessage* message, ParsedMessage& out);

// Bodies (PidTagBody, PidTagHtml, PidTagInternetCodepage) and attachments.
void MapContent(GMimeObject* content, int depth, ParsedMessage& out);

}  // namespace mailvane::mime
