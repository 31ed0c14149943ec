// Zimbra's contact groups (a contact record whose "type" is "group") as Outlook
// distribution lists: the group's name and its members by address.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "zimbra/item_steps.h"
#include "zimbra/meta_tree.h"

namespace mailvane::zimbra {

struct GroupMember {
  std::string name;
  std::string address;  // empty: a member the record names without an address
};

// The members of "dlist" (addresses separated by commas) and of "groupMember"/"member".
std::vector<GroupMember> GroupMembers(const MetaNode& fields);

// The group's name: its nickname, full name, explicit file-as text or names.
std::string GroupName(const MetaNode& fields);

// Creates the distribution list in the store's contacts (or the context's target folder).
// Members without an address are named in the report. True when the list was saved.
bool CreateDistListItem(ItemContext& ctx, std::string_view file, const std::string& storeID,
                        const std::string& name, const std::string& categories,
                        const std::vector<GroupMember>& members);

}  // namespace mailvane::zimbra
