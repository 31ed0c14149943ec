// The MAPI view of one RFC 822 / MIME message: what the store writes into a PST message
// object, its recipient table and its attachments.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pst/ltp/property_value.h"

namespace mailvane::mime {

using PropertyList = std::vector<pst::ltp::TaggedValue>;

struct ParsedMessage;

struct ParsedAttachment {
  PropertyList properties;
  // The decoded content of a by-value attachment, held once: the store moves it into
  // PidTagAttachDataBinary rather than copying it.
  std::vector<std::uint8_t> data;
  // Set for a message/rfc822 part (method kAttachEmbeddedMsg); data is then empty.
  std::unique_ptr<ParsedMessage> embedded;
};

struct ParsedMessage {
  PropertyList properties;
  std::vector<PropertyList> recipients;
  std::vector<ParsedAttachment> attachments;
  // What could not be taken as it was (parts cut off below the nesting limit, content
  // that could not be decoded, a file that is not MIME). Never empty when something
  // of the input was left out.
  std::vector<std::string> warnings;

  // The first value with this tag, or nullptr.
  const pst::ltp::PropValue* Find(pst::ltp::PropTag tag) const;
  // About what the message holds in memory, attached messages included.
  std::size_t MemoryBytes() const;
};

// The first value with this tag in a property list, or nullptr.
const pst::ltp::PropValue* FindProperty(const PropertyList& list, pst::ltp::PropTag tag);

}  // namespace mailvane::mime
