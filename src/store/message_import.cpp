#include "store/message_import.h"

namespace mailvane::store {

namespace {

void FillBag(mime::PropertyList&& list, pst::messaging::PropertyBag& bag) {
  for (pst::ltp::TaggedValue& v : list) bag.Set(v.tag, std::move(v.value));
}

}  // namespace

void FillFromParsed(mime::ParsedMessage&& parsed, pst::messaging::MessageContent& content) {
  FillBag(std::move(parsed.properties), content.props);
  for (mime::PropertyList& r : parsed.recipients) {
    pst::messaging::PropertyBag bag;
    FillBag(std::move(r), bag);
    content.recipients.push_back(std::move(bag));
  }
  for (mime::ParsedAttachment& a : parsed.attachments) {
    pst::messaging::AttachmentContent att;
    FillBag(std::move(a.properties), att.props);
    if (a.embedded) {
      att.embedded = std::make_unique<pst::messaging::MessageContent>();
      FillFromParsed(std::move(*a.embedded), *att.embedded);
    } else {
      att.bytes = std::move(a.data);
    }
    content.attachments.push_back(std::move(att));
  }
}

}  // namespace mailvane::store
