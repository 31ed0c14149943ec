#include <algorithm>

#include "pst/messaging/message.h"

namespace mailvane::pst::messaging {

// A property is one property id (or one name): setting it again with another type
// replaces it, as MAPI does.
void PropertyBag::Set(ltp::PropTag tag, ltp::PropValue value) {
  for (MessageProperty& p : props_) {
    if (!p.named && ltp::PropIdOf(p.tag) == ltp::PropIdOf(tag)) {
      p.tag = tag;
      p.value = std::move(value);
      return;
    }
  }
  props_.push_back(MessageProperty{tag, std::nullopt, std::move(value)});
}

void PropertyBag::SetNamed(const NamedProperty& name, ltp::PropValue value) {
  const ltp::PropTag tag = ltp::MakeTag(0, value.type());
  for (MessageProperty& p : props_) {
    if (p.named && *p.named == name) {
      p.tag = tag;
      p.value = std::move(value);
      return;
    }
  }
  NamedProperty stored = name;
  stored.type = value.type();
  props_.push_back(MessageProperty{tag, std::move(stored), std::move(value)});
}

void PropertyBag::Remove(ltp::PropTag tag) {
  std::erase_if(props_, [&](const MessageProperty& p) {
    return !p.named && ltp::PropIdOf(p.tag) == ltp::PropIdOf(tag);
  });
}

const ltp::PropValue* PropertyBag::Find(ltp::PropTag tag) const {
  for (const MessageProperty& p : props_) {
    if (!p.named && p.tag == tag) return &p.value;
  }
  return nullptr;
}

const ltp::PropValue* PropertyBag::FindNamed(const NamedProperty& name) const {
  for (const MessageProperty& p : props_) {
    if (p.named && *p.named == name) return &p.value;
  }
  return nullptr;
}

}  // namespace mailvane::pst::messaging
