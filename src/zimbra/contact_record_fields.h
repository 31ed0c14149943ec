// The fields of a Zimbra contact record beyond the first names, company, home address and
// notes: where each has its place in an Outlook contact, and which have none.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "zimbra/contact_fields.h"
#include "zimbra/meta_tree.h"

namespace mailvane::zimbra {

struct ContactExtras {
  // Object-model text properties the writer's field set has no member for.
  std::vector<std::pair<std::string, std::string>> texts;
  // "field: value" of every field with no place in an Outlook contact.
  std::vector<std::string> unplaced;
};

// Fills f's members from the record's fields (only members the record has a field for)
// and gives what is left.
ContactExtras MapContactFields(const MetaNode& fields, ContactFields& f);

// The values of a field: one, or the list of a multi-valued {"ZMVAL":[...]} text.
std::vector<std::string> FieldValues(const std::string& text);

}  // namespace mailvane::zimbra
