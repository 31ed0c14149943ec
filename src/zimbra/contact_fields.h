// The contact field set a contact writer takes: the texts a Zimbra contact record fills,
// and the path of a picture. An empty field is no value and is not written.
#pragma once

#include <string>

namespace mailvane::zimbra {

struct ContactFields {
  std::string eContact_FirstName;
  std::string eContact_MiddleName;
  std::string eContact_LastName;
  std::string eContact_FullName;
  std::string eContact_Suffix;
  std::string eContact_Title;
  std::string eContact_Email;
  std::string eContact_Email2;
  std::string eContact_Email3;
  std::string eContact_Company;
  std::string eContact_Profession;
  std::string eContact_BusinessStreet;
  std::string eContact_BusinessCity;
  std::string eContact_BusinessZip;
  std::string eContact_BusinessState;
  std::string eContact_BusinessCountry;
  std::string eContact_Location;
  std::string eContact_WebPage;
  std::string eContact_Department;
  std::string eContact_OfficePhone;
  std::string eContact_OfficeFax;
  std::string eContact_CellPhone;
  std::string eContact_Pager;
  std::string eContact_CarPhone;
  std::string eContact_OtherEmail1;
  std::string eContact_OtherEmail2;
  std::string eContact_OtherEmail3;
  std::string eContact_PersonalStreet;
  std::string eContact_PersonalCity;
  std::string eContact_PersonalZip;
  std::string eContact_PersonalState;
  std::string eContact_PersonalCountry;
  std::string eContact_HomePhone;
  std::string eContact_HomeFax;
  std::string eContact_Comments;
  std::string eContact_Categories;
  std::string ePhoto;  // path of a picture file
};

// Calls fn(field) for each field in order (for trimming all of them at once).
template <typename Fn>
void ForEachContactField(ContactFields& f, Fn&& fn) {
  for (std::string* s :
       {&f.eContact_FirstName, &f.eContact_MiddleName, &f.eContact_LastName,
        &f.eContact_FullName, &f.eContact_Suffix, &f.eContact_Title, &f.eContact_Email,
        &f.eContact_Email2, &f.eContact_Email3, &f.eContact_Company, &f.eContact_Profession,
        &f.eContact_BusinessStreet,
        &f.eContact_BusinessCity, &f.eContact_BusinessZip, &f.eContact_BusinessState,
        &f.eContact_BusinessCountry, &f.eContact_Location, &f.eContact_WebPage,
        &f.eContact_Department, &f.eContact_OfficePhone, &f.eContact_OfficeFax, &f.eContact_CellPhone,
        &f.eContact_Pager, &f.eContact_CarPhone, &f.eContact_OtherEmail1,
        &f.eContact_OtherEmail2, &f.eContact_OtherEmail3, &f.eContact_PersonalStreet, &f.eContact_PersonalCity,
        &f.eContact_PersonalZip, &f.eContact_PersonalState, &f.eContact_PersonalCountry,
        &f.eContact_HomePhone, &f.eContact_HomeFax,
        &f.eContact_Comments, &f.eContact_Categories, &f.ePhoto}) {
    fn(*s);
  }
}

}  // namespace mailvane::zimbra
