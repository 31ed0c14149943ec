#include "mime/parsed_message.h"

namespace mailvane::mime {

const pst::PropValue* FindProperty(const PropertyList& list, pst::PropTag tag) {
  for (const auto& p : list) {
    if (p.tag == tag) return &p.value;
  }
  return nullptr;
}

const pst::PropValue* ParsedMessage::Find(pst::PropTag tag) const {
  return FindProperty(properties, tag);
}

}  // namespace mailvane::mime
