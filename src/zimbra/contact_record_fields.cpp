#include "zimbra/contact_record_fields.h"

#include <algorithm>
#include <string_view>

namespace mailvane::zimbra {
namespace {

using Member = std::string ContactFields::*;

// Fields of the record and the writer's member that takes them.
constexpr std::pair<std::string_view, Member> kMembers[] = {
    {"middleName", &ContactFields::eContact_MiddleName},
    {"namePrefix", &ContactFields::eContact_Title},
    {"nameSuffix", &ContactFields::eContact_Suffix},
    {"department", &ContactFields::eContact_Department},
    {"office", &ContactFields::eContact_Location},
    {"workPhone", &ContactFields::eContact_OfficePhone},
    {"workFax", &ContactFields::eContact_OfficeFax},
    {"homePhone", &ContactFields::eContact_HomePhone},
    {"homeFax", &ContactFields::eContact_HomeFax},
    {"pager", &ContactFields::eContact_Pager},
    {"carPhone", &ContactFields::eContact_CarPhone},
    {"workStreet", &ContactFields::eContact_BusinessStreet},
    {"workCity", &ContactFields::eContact_BusinessCity},
    {"workState", &ContactFields::eContact_BusinessState},
    {"workPostalCode", &ContactFields::eContact_BusinessZip},
    {"workCountry", &ContactFields::eContact_BusinessCountry},
    {"imAddress1", &ContactFields::eContact_OtherEmail1},
    {"imAddress2", &ContactFields::eContact_OtherEmail2},
    {"imAddress3", &ContactFields::eContact_OtherEmail3},
};

// Fields of the record and the object model's property that takes them.
constexpr std::pair<std::string_view, std::string_view> kProperties[] = {
    {"jobTitle", "JobTitle"},
    {"nickname", "NickName"},
    {"initials", "Initials"},
    {"workPhone2", "Business2TelephoneNumber"},
    {"homePhone2", "Home2TelephoneNumber"},
    {"otherPhone", "OtherTelephoneNumber"},
    {"callbackPhone", "CallbackTelephoneNumber"},
    {"assistantPhone", "AssistantTelephoneNumber"},
    {"companyPhone", "CompanyMainTelephoneNumber"},
    {"otherFax", "OtherFaxNumber"},
    {"workURL", "BusinessHomePage"},
    {"otherStreet", "OtherAddressStreet"},
    {"otherCity", "OtherAddressCity"},
    {"otherState", "OtherAddressState"},
    {"otherPostalCode", "OtherAddressPostalCode"},
    {"otherCountry", "OtherAddressCountry"},
    {"phoneticFirstName", "YomiFirstName"},
    {"phoneticLastName", "YomiLastName"},
    {"phoneticCompany", "YomiCompanyName"},
    {"custom1", "User1"},
    {"custom2", "User2"},
    {"custom3", "User3"},
    {"custom4", "User4"},
};

// Fields the conversion takes elsewhere, or that only Zimbra itself uses.
constexpr std::string_view kTakenOrInternal[] = {
    "firstName", "lastName", "fullName", "company", "email", "email2", "email3", "homeURL",
    "mobilePhone", "homeStreet", "homeCity", "homeState", "homePostalCode", "homeCountry",
    "notes", "birthday", "anniversary", "fileAs", "type", "image", "vcardUID", "vcardURL",
    "vcardXProps", "zimbraId", "canExpand", "isMyCard", "groupMember", "dlist", "member",
    "outlookProps"};

}  // namespace

std::vector<std::string> FieldValues(const std::string& text) {
  if (text.rfind("{\"ZMVAL\":", 0) == 0) {
    const ParsedMetaRecord parsed = ParseMetaRecord(text);
    const MetaNode* list = parsed.tree ? parsed.tree->json.Find("ZMVAL") : nullptr;
    if (list != nullptr && list->kind == MetaNode::Kind::kList) {
      std::vector<std::string> values;
      for (const MetaNode& v : list->items) {
        if (v.kind == MetaNode::Kind::kText && !v.text.empty()) values.push_back(v.text);
      }
      return values;
    }
  }
  if (text.empty()) return {};
  return {text};
}

ContactExtras MapContactFields(const MetaNode& fields, ContactFields& f) {
  ContactExtras extras;
  for (const auto& [key, member] : kMembers) {
    if (const MetaNode* n = fields.Find(key)) {
      const std::vector<std::string> values = FieldValues(n->text);
      f.*member = values.empty() ? std::string() : values.front();
    }
  }
  for (const auto& [key, name] : kProperties) {
    const std::string value = fields.Text(key);
    if (!value.empty()) extras.texts.emplace_back(name, value);
  }
  // Outlook has three e-mail addresses: the first three of all the record holds.
  std::vector<std::string> emails;
  std::vector<std::string> email_keys = {"email", "email2", "email3"};
  for (const auto& [key, value] : fields.entries) {
    const bool more = (key.rfind("email", 0) == 0 && key.size() > 5 &&
                       std::find(email_keys.begin(), email_keys.end(), key) == email_keys.end()) ||
                      key.rfind("workEmail", 0) == 0;
    if (more) email_keys.push_back(key);
  }
  for (const std::string& key : email_keys) {
    for (std::string& v : FieldValues(fields.Text(key))) emails.push_back(std::move(v));
  }
  std::string* slots[] = {&f.eContact_Email, &f.eContact_Email2, &f.eContact_Email3};
  for (std::size_t i = 0; i < emails.size(); ++i) {
    if (i < 3) {
      *slots[i] = emails[i];
    } else {
      extras.unplaced.push_back("e-mail address: " + emails[i]);
    }
  }
  for (const auto& [key, value] : fields.entries) {
    const bool known =
        std::any_of(std::begin(kMembers), std::end(kMembers), [&](const auto& m) { return m.first == key; }) ||
        std::any_of(std::begin(kProperties), std::end(kProperties), [&](const auto& m) { return m.first == key; }) ||
        std::find(std::begin(kTakenOrInternal), std::end(kTakenOrInternal), key) != std::end(kTakenOrInternal) ||
        std::find(email_keys.begin(), email_keys.end(), key) != email_keys.end();
    if (known || value.text.empty()) continue;
    std::string shown = value.text.size() > 200 ? value.text.substr(0, 200) + "..." : value.text;
    std::replace(shown.begin(), shown.end(), '\n', ' ');
    extras.unplaced.push_back(key + ": " + shown);
  }
  return extras;
}

}  // namespace mailvane::zimbra
