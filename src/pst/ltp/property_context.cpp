#include "pst/ltp/property_context.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "base/hex.h"
#include "base/little_endian.h"
#include "pst/ltp/bth.h"
#include "pst/ltp/value_placement.h"
#include "pst/ndb/format_error.h"

namespace mailvane::pst::ltp {
namespace {

constexpr std::uint8_t kPcKeySize = 2;
constexpr std::uint8_t kPcEntrySize = 6;


bool IsInline(PropType type) {
  std::size_t size = FixedSizeOf(type);
  return size != 0 && size <= 4;
}

}  // namespace

LtpNode WritePropertyContext(ndb::NodeDatabase& db, std::vector<TaggedValue> values,
                             std::span<const StreamedValue> streamed, LtpSubnodeNids nids) {
  // One list of (tag, index) sorted by property id; index >= values.size() is streamed.
  std::vector<std::pair<PropTag, std::size_t>> order;
  order.reserve(values.size() + streamed.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (PropTypeOf(values[i].tag) != values[i].value.type()) {
      throw std::invalid_argument("property " + base::Hex(values[i].tag, 8) +
                                  " holds a value of another type");
    }
    order.emplace_back(values[i].tag, i);
  }
  for (std::size_t i = 0; i < streamed.size(); ++i) {
    if (FixedSizeOf(PropTypeOf(streamed[i].tag)) != 0) {
      throw std::invalid_argument("streamed property " + base::Hex(streamed[i].tag, 8) +
                                  " has a fixed-size type");
    }
    order.emplace_back(streamed[i].tag, values.size() + i);
  }
  std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
    return PropIdOf(a.first) < PropIdOf(b.first);
  });
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (PropIdOf(order[i - 1].first) == PropIdOf(order[i].first)) {
      throw std::invalid_argument("two values for property " + base::Hex(order[i].first, 8));
    }
  }

  HeapWriter heap(kClientSigProperties);
  ValuePlacement place(db, heap, nids);
  try {
    std::uint8_t blank[kBthHeaderSize] = {};
    ndb::Hid header = heap.Allocate(blank);  // the user root first, as Outlook lays it out
    heap.SetUserRoot(header);
    std::vector<std::uint8_t> records;
    records.reserve(order.size() * (kPcKeySize + kPcEntrySize));
    for (const auto& [tag, index] : order) {
      std::uint32_t cell = 0;
      PropType type = PropTypeOf(tag);
      if (index >= values.size()) {
        const StreamedValue& s = streamed[index - values.size()];
        cell = place.PlaceStreamed(s.data, s.size);
      } else {
        const std::vector<std::uint8_t>& bytes = values[index].value.bytes();
        std::size_t fixed = FixedSizeOf(type);
        if (fixed != 0 && bytes.size() != fixed) {
          throw std::invalid_argument("property " + base::Hex(tag, 8) + " holds " +
                                      std::to_string(bytes.size()) + " bytes, its type " +
                                      std::to_string(fixed));
        }
        if (IsInline(type)) {
          for (std::size_t k = 0; k < bytes.size(); ++k) cell |= std::uint32_t{bytes[k]} << (8 * k);
        } else if (fixed != 0) {
          cell = heap.Allocate(bytes);
        } else {
          cell = place.Place(bytes);
        }
      }
      base::Append16(records, PropIdOf(tag));
      base::Append16(records, static_cast<std::uint16_t>(type));
      base::Append32(records, cell);
    }
    WriteBthInto(heap, header, kPcKeySize, kPcEntrySize, records);
    LtpNode node;
    node.data = heap.Write(db);
    node.subnodes = place.Finish();
    return node;
  } catch (...) {
    place.Abort();
    throw;
  }
}

std::vector<std::uint8_t> ReadHnid(ndb::NodeDatabase& db, const HeapReader& heap,
                                   std::span<const ndb::SubnodeEntry> subnodes, std::uint32_t hnid) {
  if (hnid == 0) return {};
  if (IsHid(hnid)) {
    std::span<const std::uint8_t> a = heap.Get(hnid);
    return {a.begin(), a.end()};
  }
  auto it = std::lower_bound(subnodes.begin(), subnodes.end(), hnid,
                             [](const ndb::SubnodeEntry& e, ndb::Nid nid) { return e.nid < nid; });
  if (it == subnodes.end() || it->nid != hnid) {
    // Subnode lists are meant to be sorted, but Outlook's own files are not always.
    it = std::find_if(subnodes.begin(), subnodes.end(),
                      [&](const ndb::SubnodeEntry& e) { return e.nid == hnid; });
  }
  if (it == subnodes.end()) {
    throw ndb::FormatError("value refers to subnode " + base::Hex(hnid, 8) + ", which the node lacks");
  }
  return it->data == 0 ? std::vector<std::uint8_t>{} : db.ReadData(it->data);
}

PropertyContext::PropertyContext(ndb::NodeDatabase& db, ndb::Bid data, std::span<const ndb::SubnodeEntry> subnodes)
    : db_(db), heap_(HeapReader::Load(db, data)), subnodes_(subnodes.begin(), subnodes.end()) {
  if (heap_.client_sig() != kClientSigProperties) {
    throw ndb::FormatError("heap client signature " + std::to_string(heap_.client_sig()) +
                      " is not a property context's");
  }
  BthReader bth(heap_, heap_.user_root());
  if (bth.header().cb_key != kPcKeySize || bth.header().cb_ent != kPcEntrySize) {
    throw ndb::FormatError("property context BTH has key size " + std::to_string(bth.header().cb_key) +
                      " and entry size " + std::to_string(bth.header().cb_ent));
  }
  bth.ForEach([&](std::span<const std::uint8_t> key, std::span<const std::uint8_t> ent) {
    PropTag tag = (PropTag{base::Get16(key, 0)} << 16) | base::Get16(ent, 0);
    records_.push_back({tag, base::Get32(ent, 2)});
  });
}

std::vector<PropTag> PropertyContext::tags() const {
  std::vector<PropTag> out;
  out.reserve(records_.size());
  for (const Record& r : records_) out.push_back(r.tag);
  return out;
}

const PropertyContext::Record* PropertyContext::Find(std::uint16_t prop_id) const {
  auto it = std::lower_bound(records_.begin(), records_.end(), prop_id,
                             [](const Record& r, std::uint16_t id) { return PropIdOf(r.tag) < id; });
  return it != records_.end() && PropIdOf(it->tag) == prop_id ? &*it : nullptr;
}

PropValue PropertyContext::Resolve(const Record& r) const {
  PropType type = PropTypeOf(r.tag);
  std::size_t fixed = FixedSizeOf(type);
  if (IsInline(type)) {
    std::vector<std::uint8_t> bytes(fixed);
    for (std::size_t k = 0; k < fixed; ++k) bytes[k] = static_cast<std::uint8_t>(r.hnid >> (8 * k));
    return {type, std::move(bytes)};
  }
  if (fixed != 0) {
    if (r.hnid == 0 || !IsHid(r.hnid)) {
      throw ndb::FormatError("property " + base::Hex(r.tag, 8) + " of fixed size lacks its heap allocation");
    }
    std::span<const std::uint8_t> a = heap_.Get(r.hnid);
    if (a.size() != fixed) {
      throw ndb::FormatError("property " + base::Hex(r.tag, 8) + " has " + std::to_string(a.size()) +
                        " bytes in the heap, its type " + std::to_string(fixed));
    }
    return {type, std::vector<std::uint8_t>(a.begin(), a.end())};
  }
  return {type, ReadHnid(db_, heap_, subnodes_, r.hnid)};
}

std::optional<PropValue> PropertyContext::Get(std::uint16_t prop_id) const {
  const Record* r = Find(prop_id);
  if (r == nullptr) return std::nullopt;
  return Resolve(*r);
}

std::vector<TaggedValue> PropertyContext::ReadAll() const {
  std::vector<TaggedValue> out;
  out.reserve(records_.size());
  for (const Record& r : records_) out.push_back({r.tag, Resolve(r)});
  return out;
}

std::optional<ndb::SubnodeEntry> PropertyContext::ValueSubnode(std::uint16_t prop_id) const {
  const Record* r = Find(prop_id);
  if (r == nullptr || IsInline(PropTypeOf(r->tag)) || r->hnid == 0 || IsHid(r->hnid)) {
    return std::nullopt;
  }
  for (const ndb::SubnodeEntry& e : subnodes_) {
    if (e.nid == r->hnid) return e;
  }
  throw ndb::FormatError("value refers to subnode " + base::Hex(r->hnid, 8) + ", which the node lacks");
}

}  // namespace mailvane::pst::ltp
