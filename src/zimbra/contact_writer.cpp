#include <initializer_list>
#include <utility>

#include "zimbra/guarded_item.h"
#include "zimbra/item_dates.h"
#include "zimbra/item_writers.h"

namespace mailvane::zimbra {

namespace {

using Field = std::string ContactFields::*;

// The text properties in the order they are written; "IMAddress" is composed.
constexpr std::pair<std::string_view, Field> kBefore[] = {
    {"FirstName", &ContactFields::eContact_FirstName},
    {"MiddleName", &ContactFields::eContact_MiddleName},
    {"LastName", &ContactFields::eContact_LastName},
    {"FullName", &ContactFields::eContact_FullName},
    {"CompanyName", &ContactFields::eContact_Company},
    {"BusinessTelephoneNumber", &ContactFields::eContact_OfficePhone},
    {"BusinessFaxNumber", &ContactFields::eContact_OfficeFax},
    {"HomeTelephoneNumber", &ContactFields::eContact_HomePhone},
    {"HomeFaxNumber", &ContactFields::eContact_HomeFax},
    {"MobileTelephoneNumber", &ContactFields::eContact_CellPhone},
    {"PagerNumber", &ContactFields::eContact_Pager},
    {"CarTelephoneNumber", &ContactFields::eContact_CarPhone},
    {"BusinessAddressStreet", &ContactFields::eContact_BusinessStreet},
    {"BusinessAddressCity", &ContactFields::eContact_BusinessCity},
    {"BusinessAddressState", &ContactFields::eContact_BusinessState},
    {"BusinessAddressPostalCode", &ContactFields::eContact_BusinessZip},
    {"BusinessAddressCountry", &ContactFields::eContact_BusinessCountry},
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
    {"Title", &ContactFields::eContact_Title},
    {"Suffix", &ContactFields::eContact_Suffix},
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
  // Only what the record holds is written: an empty text is no value.
  const auto set = [&item](std::string_view name, const std::string& text) {
    if (!text.empty()) item.SetText(name, text);
  };
  for (const auto& [name, field] : kBefore) set(name, fields.*field);
  std::string im;
  for (const std::string* a : {&fields.eContact_OtherEmail1, &fields.eContact_OtherEmail2,
                               &fields.eContact_OtherEmail3}) {
    if (!a->empty()) im += (im.empty() ? "" : " ") + *a;
  }
  set("IMAddress", im);
  for (const auto& [name, field] : kAfter) set(name, fields.*field);
  SetContactDate(item, "Birthday", eBirthday);
  SetContactDate(item, "Anniversary", eAnniversary);
  if (!fields.ePhoto.empty()) {
    item.Step("AddPicture", [&](store::Item& i) { i.AddPicture(fields.ePhoto); });
  }
  if (details) details(item);
  return item.Save();
}

}  // namespace mailvane::zimbra
