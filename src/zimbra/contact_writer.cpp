#include <initializer_list>
#include <utility>

#include "zimbra/guarded_item.h"
#include "zimbra/item_dates.h"
#include "zimbra/item_writers.h"

namespace mailvane::zimbra {

void FreevCard(ContactFields& fields) {
  ForEachContactField(fields, [](std::string& s) { s.clear(); });  // keeps the capacity
}

namespace {

using Field = std::string ContactFields::*;

// The text properties in the order they are written; "IMAddress" is composed.
constexpr std::pair<std::string_view, Field> kBefore[] = {
    {"FirstName", &ContactFields::eContact_FirstName},
    {"MiddleName", &ContactFields::eContact_MiddleName},
    {"LastName", &ContactFields::eContact_LastName},
    {"FullName", &ContactFields::eContact_FullName},
    {"JobTitle", &ContactFields::eContact_JobTitle},
    {"CompanyName", &ContactFields::eContact_Company},
    {"BusinessTelephoneNumber", &ContactFields::eContact_OfficePhone},
    {"BusinessFaxNumber", &ContactFields::eContact_OfficeFax},
    {"HomeTelephoneNumber", &ContactFields::eContact_HomePhone},
    {"HomeFaxNumber", &ContactFields::eContact_HomeFax},
    {"MobileTelephoneNumber", &ContactFields::eContact_CellPhone},
    {"PagerNumber", &ContactFields::eContact_Pager},
    {"CarTelephoneNumber", &ContactFields::eContact_CarPhone},
    {"BusinessAddress", &ContactFields::eContact_BusinessAddress},
    {"BusinessAddressStreet", &ContactFields::eContact_BusinessStreet},
    {"BusinessAddressCity", &ContactFields::eContact_BusinessCity},
    {"BusinessAddressState", &ContactFields::eContact_BusinessState},
    {"BusinessAddressPostalCode", &ContactFields::eContact_BusinessZip},
    {"BusinessAddressCountry", &ContactFields::eContact_BusinessCountry},
    {"HomeAddress", &ContactFields::eContact_PersonalAddress},
    {"HomeAddressStreet", &ContactFields::eContact_PersonalStreet},
    {"HomeAddressCity", &ContactFields::eContact_PersonalCity},
    {"HomeAddressState", &ContactFields::eContact_PersonalState},
    {"HomeAddressPostalCode", &ContactFields::eContact_PersonalZip},
    {"HomeAddressCountry", &ContactFields::eContact_PersonalCountry},
    {"Email1Address", &ContactFields::eContact_Email},
    {"Email2Address", &ContactFields::eContact_Email2},
    {"Email3Address", &ContactFields::eContact_Email3},
    {"BusinessHomePage", &ContactFields::eContact_WebPage},
    {"WebPage", &ContactFields::eContact_WebPage},
};

constexpr std::pair<std::string_view, Field> kAfter[] = {
    {"Categories", &ContactFields::eContact_Categories},
    {"Department", &ContactFields::eContact_Department},
    {"OfficeLocation", &ContactFields::eContact_Location},
    {"Profession", &ContactFields::eContact_Profession},
    {"ManagerName", &ContactFields::eContact_Manager},
    {"AssistantName", &ContactFields::eContact_Assistant},
    {"Title", &ContactFields::eContact_Title},
    {"Suffix", &ContactFields::eContact_Suffix},
    {"Spouse", &ContactFields::eContact_Spouse},
    {"Body", &ContactFields::eContact_Comments},
};

// A date property is set only from a non-empty text holding "/" that reads as a date.
void SetContactDate(GuardedItem& item, std::string_view name, const std::string& text) {
  if (text.empty() || text.find('/') == std::string::npos) return;
  if (const auto date = ReadSlashDate(text)) item.SetDate(name, *date);
}

}  // namespace

bool CreateContactItem(ItemContext& ctx, std::string_view file, const std::string& storeID,
                       int FolderName, const ContactFields& fields,
                       const std::string& eBirthday, const std::string& eAnniversary,
                       const ItemDetails& details) {
  GuardedItem item(ctx, file);
  if (!item.Create(storeID, FolderName, store::ItemType::kContact)) return false;
  for (const auto& [name, field] : kBefore) item.SetText(name, fields.*field);
  item.SetText("IMAddress", fields.eContact_OtherEmail1 + " " + fields.eContact_OtherEmail2 +
                                " " + fields.eContact_OtherEmail3);
  for (const auto& [name, field] : kAfter) item.SetText(name, fields.*field);
  SetContactDate(item, "Birthday", eBirthday);
  SetContactDate(item, "Anniversary", eAnniversary);
  if (!fields.ePhoto.empty()) {
    item.Step("AddPicture", [&](store::Item& i) { i.AddPicture(fields.ePhoto); });
  }
  if (details) details(item);
  return item.Save();
}

}  // namespace mailvane::zimbra
