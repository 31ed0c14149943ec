#include <algorithm>

#include "pst/messaging/message.h"

namespace mailvane::pst {

// A property is one property id (or one name): setting it again with another type
// replaces it, as MAPI does.
void PropertyBag::Set(PropTag tag, PropValue value) {
  for (MessageProperty& p : props_) {
    if (!p.named && PropIdOf(p.tag) == PropIdOf(tag)) {
      p.tag = tag;
      p.value = std::move(value);
      return;
    }
  }
  props_.push_back(MessageProperty{tag, std::nullopt, std::move(value)});
}

void PropertyBag::SetNamed(const NamedProperty& name, PropValue value) {
  const PropTag tag = MakeTag(0, value.type());
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

void PropertyBag::Remove(PropTag tag) {
  std::erase_if(props_, [&](const MessageProperty& p) {
    return !p.named && PropIdOf(p.tag) == PropIdOf(tag);
  });
}

const PropValue* PropertyBag::Find(PropTag tag) const {
  for (const MessageProperty& p : props_) {
    if (!p.named && p.tag == tag) return &p.value;
  }
  return nullptr;
}

const PropValue* PropertyBag::FindNamed(const NamedProperty& name) const {
  for (const MessageProperty& p : props_) {
    if (p.named && *p.named == name) return &p.value;
  }
  return nullptr;
}

}  // namespace mailvane::pst
