#include "store/object_model_properties.h"

#include <algorithm>
#include <array>
#include <string>

#include "base/file_time.h"
#include "mime/address_properties.h"

namespace mailvane::store {

using pst::ltp::MakeTag;
using pst::ltp::PropType;
using pst::ltp::PropValue;

namespace {

constexpr PropType kStr = PropType::kString;
constexpr PropType kTime = PropType::kTime;

PropertyKey T(std::uint16_t id, PropType type) { return PropertyKey::Tag(MakeTag(id, type)); }
PropertyKey Addr(std::uint32_t lid, PropType type) {
  return PropertyKey::Lid(pst::messaging::PsetidAddress(), lid, type);
}
PropertyKey Appt(std::uint32_t lid, PropType type) {
  return PropertyKey::Lid(pst::messaging::PsetidAppointment(), lid, type);
}
PropertyKey Task(std::uint32_t lid, PropType type) {
  return PropertyKey::Lid(pst::messaging::PsetidTask(), lid, type);
}
PropertyKey Common(std::uint32_t lid, PropType type) {
  return PropertyKey::Lid(pst::messaging::PsetidCommon(), lid, type);
}

struct TextName {
  std::string_view name;
  std::array<std::uint16_t, 2> tags;  // tagged string properties written (0: none)
  std::uint32_t address_lid;          // a PSETID_Address string written too (0: none)
};

// Contact texts (MS-OXOCNTC 2.2): the tagged property and, where Outlook keeps one, the
// named property of the same meaning.
constexpr TextName kContactTexts[] = {
    {"FirstName", {0x3A06, 0}, 0},
    {"MiddleName", {0x3A44, 0}, 0},
    {"LastName", {0x3A11, 0}, 0},
    {"FullName", {0x3001, 0}, 0},
    {"Suffix", {0x3A05, 0}, 0},
    {"Title", {0x3A45, 0}, 0},
    {"CompanyName", {0x3A16, 0}, 0},
    {"Profession", {0x3A46, 0}, 0},
    {"JobTitle", {0x3A17, 0}, 0},
    {"Department", {0x3A18, 0}, 0},
    {"OfficeLocation", {0x3A19, 0}, 0},
    {"ManagerName", {0x3A4E, 0}, 0},
    {"AssistantName", {0x3A30, 0}, 0},
    {"Spouse", {0x3A48, 0}, 0},
    {"BusinessTelephoneNumber", {0x3A08, 0}, 0},
    {"BusinessFaxNumber", {0x3A24, 0}, 0},
    {"HomeTelephoneNumber", {0x3A09, 0}, 0},
    {"HomeFaxNumber", {0x3A25, 0}, 0},
    {"MobileTelephoneNumber", {0x3A1C, 0}, 0},
    {"PagerNumber", {0x3A21, 0}, 0},
    {"CarTelephoneNumber", {0x3A1E, 0}, 0},
    {"BusinessHomePage", {0x3A51, 0}, 0},
    {"WebPage", {0, 0}, 0x802B},              // PidLidHtml
    {"IMAddress", {0, 0}, 0x8062},            // PidLidInstantMessagingAddress
    {"FileAs", {0, 0}, 0x8005},               // PidLidFileUnder
    {"BusinessAddress", {0, 0}, 0x801B},      // PidLidWorkAddress
    {"BusinessAddressStreet", {0x3A29, 0}, 0x8045},
    {"BusinessAddressCity", {0x3A27, 0}, 0x8046},
    {"BusinessAddressState", {0x3A28, 0}, 0x8047},
    {"BusinessAddressPostalCode", {0x3A2A, 0}, 0x8048},
    {"BusinessAddressCountry", {0x3A26, 0}, 0x8049},
    {"HomeAddress", {0, 0}, 0x801A},          // PidLidHomeAddress
    {"HomeAddressStreet", {0x3A5D, 0}, 0},
    {"HomeAddressCity", {0x3A59, 0}, 0},
    {"HomeAddressState", {0x3A5C, 0}, 0},
    {"HomeAddressPostalCode", {0x3A5B, 0}, 0},
    {"HomeAddressCountry", {0x3A5A, 0}, 0},
    {"OtherAddressStreet", {0x3A63, 0}, 0},
    {"OtherAddressCity", {0x3A5F, 0}, 0},
    {"OtherAddressState", {0x3A62, 0}, 0},
    {"OtherAddressPostalCode", {0x3A61, 0}, 0},
    {"OtherAddressCountry", {0x3A60, 0}, 0},
    {"NickName", {0x3A4F, 0}, 0},
    {"Initials", {0x3A0A, 0}, 0},
    {"Business2TelephoneNumber", {0x3A1B, 0}, 0},
    {"Home2TelephoneNumber", {0x3A2F, 0}, 0},
    {"OtherTelephoneNumber", {0x3A1F, 0}, 0},
    {"CallbackTelephoneNumber", {0x3A02, 0}, 0},
    {"AssistantTelephoneNumber", {0x3A2E, 0}, 0},
    {"CompanyMainTelephoneNumber", {0x3A57, 0}, 0},
    {"OtherFaxNumber", {0x3A23, 0}, 0},  // PidTagPrimaryFaxNumber
    {"YomiFirstName", {0, 0}, 0x802C},
    {"YomiLastName", {0, 0}, 0x802D},
    {"YomiCompanyName", {0, 0}, 0x802E},
    {"User1", {0, 0}, 0x804F},
    {"User2", {0, 0}, 0x8050},
    {"User3", {0, 0}, 0x8051},
    {"User4", {0, 0}, 0x8052},
};

// The named properties of e-mail address n (1 to 3) of a contact (MS-OXOCNTC 2.2.1.2).
struct EmailLids {
  std::uint32_t display_name, address_type, address, original_display_name, original_entry_id;
};
constexpr EmailLids kEmailLids[3] = {
    {0x8080, 0x8082, 0x8083, 0x8084, 0x8085},
    {0x8090, 0x8092, 0x8093, 0x8094, 0x8095},
    {0x80A0, 0x80A2, 0x80A3, 0x80A4, 0x80A5},
};

[[noreturn]] void Unknown(ItemType type, std::string_view name, const char* kind) {
  throw StoreError("an item of class " + std::string(MessageClassOf(type)) + " has no " + kind +
                   " property named \"" + std::string(name) + "\"");
}

std::string Trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return std::string(s.substr(first, last - first + 1));
}

// "a; b, c" gives {"a", "b", "c"}: Outlook separates categories with the list separator.
std::vector<std::string> SplitCategories(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ',' || text[i] == ';') {
      std::string item = Trimmed(text.substr(start, i - start));
      if (!item.empty() && std::find(out.begin(), out.end(), item) == out.end()) {
        out.push_back(std::move(item));
      }
      start = i + 1;
    }
  }
  return out;
}

std::vector<PropertyWrite> EmailWrites(int n, std::string_view address) {
  const EmailLids& l = kEmailLids[n - 1];
  std::vector<PropertyWrite> w;
  w.push_back({Addr(l.address, kStr), PropValue::String(address)});
  if (address.empty()) return w;  // an empty address leaves the rest of the entry unset
  w.push_back({Addr(l.address_type, kStr), PropValue::String("SMTP")});
  w.push_back({Addr(l.display_name, kStr), PropValue::String(address)});
  w.push_back({Addr(l.original_display_name, kStr), PropValue::String(address)});
  w.push_back({Addr(l.original_entry_id, PropType::kBinary),
               PropValue::Binary(mime::OneOffEntryId({std::string(address), std::string(address)}))});
  return w;
}

}  // namespace

PropertyKey PropertyKey::Lid(const pst::ltp::Guid& set, std::uint32_t lid, pst::ltp::PropType type) {
  pst::messaging::NamedProperty n;
  n.set = set;
  n.lid = lid;
  n.type = type;
  return PropertyKey{MakeTag(0, type), n};
}

PropertyKey PropertyKey::Name(const pst::ltp::Guid& set, std::u16string_view name,
                              pst::ltp::PropType type) {
  pst::messaging::NamedProperty n;
  n.set = set;
  n.name = std::u16string(name);
  n.type = type;
  return PropertyKey{MakeTag(0, type), n};
}

const char* MessageClassOf(ItemType type) {
  switch (type) {
    case ItemType::kMessage: return "IPM.Note";
    case ItemType::kAppointment: return "IPM.Appointment";
    case ItemType::kContact: return "IPM.Contact";
    case ItemType::kTask: return "IPM.Task";
    case ItemType::kNote: return "IPM.StickyNote";
    case ItemType::kDistList: return "IPM.DistList";
  }
  return "IPM.Note";
}

std::vector<PropertyWrite> TextPropertyWrites(ItemType type, std::string_view name,
                                              std::string_view utf8) {
  const PropValue text = PropValue::String(utf8);
  if (name == "Subject") {
    return {{T(0x0037, kStr), text}, {T(0x0E1D, kStr), text}};  // subject, normalized subject
  }
  if (name == "Body") return {{T(0x1000, kStr), text}};
  if (name == "HTMLBody") {
    // PidTagHtml holds the bytes; PidTagInternetCodepage says they are UTF-8.
    return {{T(0x1013, PropType::kBinary),
             PropValue::Binary(std::vector<std::uint8_t>(utf8.begin(), utf8.end()))},
            {T(0x3FDE, PropType::kInt32), PropValue::Int32(65001)}};
  }
  if (name == "FlagRequest") return {{Common(0x8530, kStr), text}};  // PidLidFlagRequest
  if (name == "Categories") {
    return {{PropertyKey::Name(pst::messaging::PsPublicStrings(), u"Keywords", PropType::kMvString),
             PropValue::MvString(SplitCategories(utf8))}};
  }
  if (type == ItemType::kContact) {
    for (int n = 1; n <= 3; ++n) {
      if (name == "Email" + std::to_string(n) + "Address") return EmailWrites(n, utf8);
    }
    for (const TextName& t : kContactTexts) {
      if (t.name != name) continue;
      std::vector<PropertyWrite> w;
      for (std::uint16_t id : t.tags) {
        if (id != 0) w.push_back({T(id, kStr), text});
      }
      if (t.address_lid != 0) w.push_back({Addr(t.address_lid, kStr), text});
      return w;
    }
  }
  if (type == ItemType::kDistList && name == "DLName") {
    // PidLidDistributionListName, and the names the list shows under.
    return {{Addr(0x8053, kStr), text}, {T(0x3001, kStr), text}, {T(0x0037, kStr), text},
            {T(0x0E1D, kStr), text}, {Addr(0x8005, kStr), text}};
  }
  if (type == ItemType::kAppointment && name == "Location") {
    return {{Appt(0x8208, kStr), text}};  // PidLidLocation
  }
  Unknown(type, name, "text");
}

std::vector<PropertyWrite> TimePropertyWrites(ItemType type, std::string_view name,
                                              base::FileTime utc, base::FileTime wall) {
  const PropValue t = PropValue::Time(utc);
  const PropValue w = PropValue::Time(wall);
  if (type == ItemType::kAppointment) {
    // MS-OXOCAL 2.2.1.5/2.2.1.6: the whole start/end, the common pair, the clipped pair
    // and the tagged start/end dates all hold the same moment for a single appointment.
    if (name == "Start") {
      return {{Appt(0x820D, kTime), t}, {Common(0x8516, kTime), t}, {Appt(0x8235, kTime), t},
              {T(0x0060, kTime), t}};
    }
    if (name == "End") {
      return {{Appt(0x820E, kTime), t}, {Common(0x8517, kTime), t}, {Appt(0x8236, kTime), t},
              {T(0x0061, kTime), t}};
    }
  }
  if (type == ItemType::kTask) {
    // MS-OXOTASK 2.2.2.2.4/5: the task dates are midnight on the local wall clock; the
    // common start and end hold the same moments in UTC.
    if (name == "StartDate") return {{Task(0x8104, kTime), w}, {Common(0x8516, kTime), t}};
    if (name == "DueDate") return {{Task(0x8105, kTime), w}, {Common(0x8517, kTime), t}};
  }
  if (type == ItemType::kTask && name == "DateCompleted") {
    return {{Task(0x810F, kTime), w}};  // PidLidTaskDateCompleted, a local day
  }
  if (name == "ReminderTime") {
    // PidLidReminderTime and the moment the reminder fires, PidLidReminderSignalTime.
    return {{Common(0x8502, kTime), t}, {Common(0x8560, kTime), t}};
  }
  if (type == ItemType::kContact) {
    // The tagged date is the UTC moment, its "local" twin the unconverted wall-clock day.
    if (name == "Birthday") return {{T(0x3A42, kTime), t}, {Addr(0x80DE, kTime), w}};
    if (name == "Anniversary") return {{T(0x3A41, kTime), t}, {Addr(0x80DF, kTime), w}};
  }
  Unknown(type, name, "date");
}

std::vector<PropertyWrite> BoolPropertyWrites(ItemType type, std::string_view name, bool value) {
  const PropValue b = PropValue::Boolean(value);
  if (type == ItemType::kAppointment && name == "AllDayEvent") {
    return {{Appt(0x8215, PropType::kBoolean), b}};  // PidLidAppointmentSubType
  }
  if (type == ItemType::kTask && name == "Complete") {
    return {{Task(0x811C, PropType::kBoolean), b}};  // PidLidTaskComplete
  }
  if (name == "ReminderSet") return {{Common(0x8503, PropType::kBoolean), b}};
  Unknown(type, name, "yes/no");
}

std::vector<PropertyWrite> IntPropertyWrites(ItemType type, std::string_view name, int value) {
  const PropValue i = PropValue::Int32(value);
  if (type == ItemType::kAppointment && name == "BusyStatus") {
    return {{Appt(0x8205, PropType::kInt32), i}};  // PidLidBusyStatus
  }
  if (type == ItemType::kTask && name == "Status") {
    return {{Task(0x8101, PropType::kInt32), i}};  // PidLidTaskStatus
  }
  if (type == ItemType::kTask && name == "PercentComplete") {
    return {{Task(0x8102, PropType::kDouble), PropValue::Double(value / 100.0)}};
  }
  if (type == ItemType::kNote && name == "Color") {
    return {{PropertyKey::Lid(pst::messaging::PsetidNote(), 0x8B00, PropType::kInt32), i}};
  }
  if (name == "Importance") return {{T(0x0017, PropType::kInt32), i}};
  if (name == "Sensitivity") return {{T(0x0036, PropType::kInt32), i}};
  if (name == "ReminderMinutesBeforeStart") {
    return {{Common(0x8501, PropType::kInt32), i}};  // PidLidReminderDelta
  }
  if (type == ItemType::kAppointment && name == "MeetingStatus") {
    return {{Appt(0x8217, PropType::kInt32), i}};  // PidLidAppointmentStateFlags
  }
  if (type == ItemType::kAppointment && name == "ResponseStatus") {
    return {{Appt(0x8218, PropType::kInt32), i}};  // PidLidResponseStatus
  }
  if (name == "FlagStatus") return {{T(0x1090, PropType::kInt32), i}};  // PidTagFlagStatus
  if (name == "FlagIcon") return {{T(0x1095, PropType::kInt32), i}};    // PidTagFollowupIcon
  Unknown(type, name, "number");
}

}  // namespace mailvane::store
