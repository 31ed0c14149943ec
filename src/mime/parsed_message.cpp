#include "mime/parsed_message.h"

namespace mailvane::mime {

const pst::ltp::PropValue* FindProperty(const PropertyList& list, pst::ltp::PropTag tag) {
  for (const auto& p : list) {
    if (p.tag == tag) return &p.value;
  }
  return nullptr;
}

const pst::ltp::PropValue* ParsedMessage::Find(pst::ltp::PropTag tag) const {
  return FindProperty(properties, tag);
}

namespace {

constexpr std::size_t kAllocationOverhead = 32;

std::size_t MemoryBytesOf(const PropertyList& list) {
  std::size_t n = list.capacity() * sizeof(pst::ltp::TaggedValue);
  for (const auto& p : list) n += p.value.bytes().capacity() + kAllocationOverhead;
  return n;
}

}  // namespace

std::size_t ParsedMessage::MemoryBytes() const {
  std::size_t n = sizeof(ParsedMessage) + MemoryBytesOf(properties);
  for (const auto& r : recipients) n += sizeof(r) + MemoryBytesOf(r);
  for (const auto& a : attachments) {
    n += sizeof(a) + MemoryBytesOf(a.properties) + a.data.capacity();
    if (a.embedded) n += a.embedded->MemoryBytes();
  }
  for (const auto& w : warnings) n += sizeof(w) + w.capacity();
  return n;
}

}  // namespace mailvane::mime
