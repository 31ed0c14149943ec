#include "store/item_derivation.h"

#include <string>
#include <vector>

#include "base/file_time.h"
#include "pst/messaging/property_tags.h"
#include "store/object_model_properties.h"

namespace mailvane::store {

using pst::ltp::MakeTag;
using pst::messaging::MessageContent;
using pst::ltp::PropType;
using pst::ltp::PropValue;

namespace {

pst::messaging::NamedProperty Lid(const pst::ltp::Guid& set, std::uint32_t lid, PropType type) {
  pst::messaging::NamedProperty n;
  n.set = set;
  n.lid = lid;
  n.type = type;
  return n;
}
pst::messaging::NamedProperty Address(std::uint32_t lid, PropType t) { return Lid(pst::messaging::PsetidAddress(), lid, t); }
pst::messaging::NamedProperty Appointment(std::uint32_t lid, PropType t) {
  return Lid(pst::messaging::PsetidAppointment(), lid, t);
}
pst::messaging::NamedProperty Task(std::uint32_t lid, PropType t) { return Lid(pst::messaging::PsetidTask(), lid, t); }
pst::messaging::NamedProperty Note(std::uint32_t lid, PropType t) { return Lid(pst::messaging::PsetidNote(), lid, t); }
pst::messaging::NamedProperty Common(std::uint32_t lid, PropType t) { return Lid(pst::messaging::PsetidCommon(), lid, t); }

std::string TextOf(const pst::messaging::PropertyBag& bag, pst::ltp::PropTag tag) {
  const PropValue* v = bag.Find(tag);
  return v ? v->AsString() : std::string();
}
std::string TextOf(const pst::messaging::PropertyBag& bag, const pst::messaging::NamedProperty& name) {
  const PropValue* v = bag.FindNamed(name);
  return v ? v->AsString() : std::string();
}

void SetIfMissing(pst::messaging::PropertyBag& bag, pst::ltp::PropTag tag, PropValue value) {
  if (!bag.Find(tag)) bag.Set(tag, std::move(value));
}
void SetIfMissing(pst::messaging::PropertyBag& bag, const pst::messaging::NamedProperty& name, PropValue value) {
  if (!bag.FindNamed(name)) bag.SetNamed(name, std::move(value));
}

std::string JoinNonEmpty(const std::vector<std::string>& parts, const std::string& sep) {
  std::string out;
  for (const std::string& p : parts) {
    if (p.empty()) continue;
    if (!out.empty()) out += sep;
    out += p;
  }
  return out;
}

// The tagged parts of one postal address and the named property of its full text.
struct AddressParts {
  std::uint32_t full_lid;
  std::uint16_t street, city, state, postal_code, country;
};

// Outlook composes the full text of an address from its parts ("City, State  Postal" on
// the middle line); its address card and other readers show only that text.
void ComposeAddress(pst::messaging::PropertyBag& p, const AddressParts& a) {
  const pst::messaging::NamedProperty full = Address(a.full_lid, PropType::kString);
  if (!TextOf(p, full).empty()) return;
  auto part = [&p](std::uint16_t id) { return TextOf(p, pst::ltp::MakeTag(id, PropType::kString)); };
  const std::string town = JoinNonEmpty(
      {part(a.city), JoinNonEmpty({part(a.state), part(a.postal_code)}, "  ")}, ", ");
  const std::string text = JoinNonEmpty({part(a.street), town, part(a.country)}, "\r\n");
  if (!text.empty()) p.SetNamed(full, PropValue::String(text));
}

void DeriveContact(pst::messaging::PropertyBag& p) {
  const std::string first = TextOf(p, pst::ltp::MakeTag(0x3A06, PropType::kString));
  const std::string middle = TextOf(p, pst::ltp::MakeTag(0x3A44, PropType::kString));
  const std::string last = TextOf(p, pst::ltp::MakeTag(0x3A11, PropType::kString));
  const std::string company = TextOf(p, pst::ltp::MakeTag(0x3A16, PropType::kString));
  std::string full = TextOf(p, pst::messaging::kPrDisplayName);
  if (full.empty()) {
    full = JoinNonEmpty({first, middle, last}, " ");
    if (!full.empty()) p.Set(pst::messaging::kPrDisplayName, PropValue::String(full));
  }
  // Outlook files a new contact as "Last, First" (PidLidFileUnderId 0x8017).
  const pst::messaging::NamedProperty file_under = Address(0x8005, PropType::kString);
  std::string file_as = TextOf(p, file_under);
  if (file_as.empty()) {
    file_as = JoinNonEmpty({last, JoinNonEmpty({first, middle}, " ")}, ", ");
    if (file_as.empty()) file_as = full.empty() ? company : full;
    p.SetNamed(file_under, PropValue::String(file_as));
  }
  SetIfMissing(p, Address(0x8006, PropType::kInt32), PropValue::Int32(0x8017));
  ComposeAddress(p, {0x801A, 0x3A5D, 0x3A59, 0x3A5C, 0x3A5B, 0x3A5A});  // home
  ComposeAddress(p, {0x801B, 0x3A29, 0x3A27, 0x3A28, 0x3A2A, 0x3A26});  // business
  ComposeAddress(p, {0x801C, 0x3A63, 0x3A5F, 0x3A62, 0x3A61, 0x3A60});  // other
  if (!p.Find(pst::messaging::kPrSubject)) {
    p.Set(pst::messaging::kPrSubject, PropValue::String(full));
    p.Set(pst::messaging::kPrNormalizedSubject, PropValue::String(full));
  }

  // Each e-mail address shows as "Full Name (address)" and is listed for the address book.
  static constexpr std::uint32_t kAddressLid[3] = {0x8083, 0x8093, 0x80A3};
  static constexpr std::uint32_t kDisplayLid[3] = {0x8080, 0x8090, 0x80A0};
  std::vector<std::int32_t> listed;
  std::int32_t mask = 0;
  for (int i = 0; i < 3; ++i) {
    const std::string address = TextOf(p, Address(kAddressLid[i], PropType::kString));
    if (address.empty()) continue;
    listed.push_back(i);
    mask |= 1 << i;
    const std::string shown = full.empty() ? address : full + " (" + address + ")";
    p.SetNamed(Address(kDisplayLid[i], PropType::kString), PropValue::String(shown));
  }
  if (!listed.empty()) {
    p.SetNamed(Address(0x8028, PropType::kMvInt32), PropValue::MvInt32(listed));
    p.SetNamed(Address(0x8029, PropType::kInt32), PropValue::Int32(mask));
  }
}

void DeriveAppointment(pst::messaging::PropertyBag& p) {
  const pst::messaging::NamedProperty start = Appointment(0x820D, PropType::kTime);
  const pst::messaging::NamedProperty end = Appointment(0x820E, PropType::kTime);
  const PropValue* s = p.FindNamed(start);
  const PropValue* e = p.FindNamed(end);
  if (s && e && e->AsTime() >= s->AsTime()) {
    const auto minutes = static_cast<std::int32_t>((e->AsTime() - s->AsTime()) / 600000000ULL);
    p.SetNamed(Appointment(0x8213, PropType::kInt32), PropValue::Int32(minutes));
  }
  SetIfMissing(p, Appointment(0x8205, PropType::kInt32), PropValue::Int32(2));  // busy
  SetIfMissing(p, Appointment(0x8215, PropType::kBoolean), PropValue::Boolean(false));
  SetIfMissing(p, Appointment(0x8217, PropType::kInt32), PropValue::Int32(0));  // a meeting? no
  SetIfMissing(p, Appointment(0x8223, PropType::kBoolean), PropValue::Boolean(false));
  SetIfMissing(p, Common(0x8503, PropType::kBoolean), PropValue::Boolean(false));  // reminder
  // A reminder set minutes before the start is due then (PidLidReminderTime) and fires
  // those minutes earlier (PidLidReminderSignalTime).
  const PropValue* start_now = p.FindNamed(start);  // the bag may have grown meanwhile
  const PropValue* set = p.FindNamed(Common(0x8503, PropType::kBoolean));
  const PropValue* delta = p.FindNamed(Common(0x8501, PropType::kInt32));
  if (start_now && set && set->AsBool() && delta) {
    const base::FileTime due = start_now->AsTime();
    const auto before = static_cast<base::FileTime>(delta->AsInt32()) * 600000000ULL;
    const base::FileTime signal = due > before ? due - before : due;
    SetIfMissing(p, Common(0x8502, PropType::kTime), PropValue::Time(due));
    SetIfMissing(p, Common(0x8560, PropType::kTime), PropValue::Time(signal));
  }
}

void DeriveTask(pst::messaging::PropertyBag& p) {
  SetIfMissing(p, Task(0x8101, PropType::kInt32), PropValue::Int32(0));  // not started
  SetIfMissing(p, Task(0x8102, PropType::kDouble), PropValue::Double(0.0));
  SetIfMissing(p, Task(0x811C, PropType::kBoolean), PropValue::Boolean(false));
  SetIfMissing(p, Task(0x8126, PropType::kBoolean), PropValue::Boolean(false));  // recurring
  SetIfMissing(p, Common(0x8518, PropType::kInt32), PropValue::Int32(0));        // not assigned
  SetIfMissing(p, Common(0x8503, PropType::kBoolean), PropValue::Boolean(false));
}

void DeriveNote(pst::messaging::PropertyBag& p) {
  SetIfMissing(p, Note(0x8B00, PropType::kInt32), PropValue::Int32(3));  // yellow
  SetIfMissing(p, Note(0x8B02, PropType::kInt32), PropValue::Int32(200));
  SetIfMissing(p, Note(0x8B03, PropType::kInt32), PropValue::Int32(166));
  SetIfMissing(p, Note(0x8B04, PropType::kInt32), PropValue::Int32(0));
  SetIfMissing(p, Note(0x8B05, PropType::kInt32), PropValue::Int32(0));
  // A sticky note's subject is the first line of its text.
  if (!p.Find(pst::messaging::kPrSubject)) {
    std::string body = TextOf(p, pst::messaging::kPrBody);
    const std::size_t eol = body.find_first_of("\r\n");
    if (eol != std::string::npos) body.resize(eol);
    p.Set(pst::messaging::kPrSubject, PropValue::String(body));
    p.Set(pst::messaging::kPrNormalizedSubject, PropValue::String(body));
  }
}

}  // namespace

void DeriveOnSave(ItemType type, MessageContent& content) {
  pst::messaging::PropertyBag& p = content.props;
  SetIfMissing(p, pst::messaging::kPrMessageClass, PropValue::String(MessageClassOf(type)));
  SetIfMissing(p, pst::messaging::kPrMessageFlags, PropValue::Int32(pst::messaging::kMsgFlagRead));
  SetIfMissing(p, pst::messaging::kPrImportance, PropValue::Int32(1));
  switch (type) {
    case ItemType::kContact: DeriveContact(p); break;
    case ItemType::kAppointment: DeriveAppointment(p); break;
    case ItemType::kTask: DeriveTask(p); break;
    case ItemType::kNote: DeriveNote(p); break;
    case ItemType::kMessage:
    case ItemType::kDistList: break;
  }
}

}  // namespace mailvane::store
