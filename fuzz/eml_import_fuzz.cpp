// The .eml import: GMime and our mapping onto MAPI properties, over any bytes. A name a
// sender chose for an attachment must never carry a path, however it was encoded.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "mime/mime_parser.h"
#include "pst/messaging/property_tags.h"
#include "mime/attachment_names.h"

using namespace mailvane;

namespace {

void CheckName(const mime::PropertyList& properties, pst::ltp::PropTag tag) {
  const pst::ltp::PropValue* value = mime::FindProperty(properties, tag);
  if (value == nullptr) return;
  const std::string name = value->AsString();
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos ||
      name == "." || name == "..") {
    fuzz::Fail("attachment name with a path: " + name);
  }
  const std::string shown = mime::SafeFileName(name);
  if (shown.find('/') != std::string::npos || shown == "." || shown == "..") {
    fuzz::Fail("display name unsafe for " + name + ": " + shown);
  }
}

void CheckMessage(const mime::ParsedMessage& message, int depth) {
  if (depth > mime::kMaxNestingDepth + 1) fuzz::Fail("embedded messages nested too deep");
  for (const mime::ParsedAttachment& a : message.attachments) {
    CheckName(a.properties, pst::messaging::kPrAttachFilename);
    CheckName(a.properties, pst::messaging::kPrAttachLongFilename);
    if (a.embedded) CheckMessage(*a.embedded, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckMessage(mime::ParseMimeBytes(bytes), 0);
  return 0;
}
