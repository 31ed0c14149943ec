#include "zimbra/contact_group.h"

#include "zimbra/contact_record_fields.h"
#include "zimbra/guarded_item.h"
#include "zimbra/record_steps.h"

namespace mailvane::zimbra {
namespace {

std::string Trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n\"");
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(" \t\r\n\"") - first + 1));
}

// "Name <a@x>" or "a@x"; the address is empty when the text holds none.
GroupMember ReadMember(std::string_view text) {
  GroupMember m;
  const auto open = text.rfind('<');
  const auto close = text.rfind('>');
  if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
    m.name = Trimmed(text.substr(0, open));
    m.address = Trimmed(text.substr(open + 1, close - open - 1));
  } else {
    m.address = Trimmed(text);
  }
  if (m.address.find('@') == std::string::npos) {
    m.name = Trimmed(text);
    m.address.clear();
  }
  return m;
}

// A list of addresses separated by commas outside double quotes.
void SplitMembers(std::string_view text, std::vector<GroupMember>& out) {
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] == '"') quoted = !quoted;
    if (i == text.size() || (text[i] == ',' && !quoted)) {
      const std::string item = Trimmed(text.substr(start, i - start));
      if (!item.empty()) out.push_back(ReadMember(item));
      start = i + 1;
    }
  }
}

}  // namespace

std::vector<GroupMember> GroupMembers(const MetaNode& fields) {
  std::vector<GroupMember> members;
  SplitMembers(fields.Text("dlist"), members);
  for (const char* key : {"groupMember", "member"}) {
    for (const std::string& value : FieldValues(fields.Text(key))) SplitMembers(value, members);
  }
  return members;
}

std::string GroupName(const MetaNode& fields) {
  for (const char* key : {"nickname", "fullName", "fileAs", "lastName", "firstName"}) {
    std::string name = fields.Text(key);
    if (std::string_view(key) == "fileAs") {
      // "8:<text>" is an explicit name; the numbers alone choose a format of names.
      name = name.rfind("8:", 0) == 0 ? name.substr(2) : std::string();
    }
    if (!Trimmed(name).empty()) return Trimmed(name);
  }
  return "Contact group";
}

bool CreateDistListItem(ItemContext& ctx, std::string_view file, const std::string& storeID,
                        const std::string& name, const std::string& categories,
                        const std::vector<GroupMember>& members) {
  GuardedItem item(ctx, file);
  if (!item.Create(storeID, 10, store::ItemType::kDistList)) return false;
  item.SetText("DLName", name);
  if (!categories.empty()) item.SetText("Categories", categories);
  std::string without_address;
  for (const GroupMember& m : members) {
    if (m.address.empty()) {
      without_address += " [" + m.name + "]";
      continue;
    }
    item.Step("AddMember", [&](store::Item& i) { i.AddMember(m.name, m.address); });
  }
  if (!without_address.empty() && ctx.notice) {
    ctx.notice(file, "group members without an address, not in the list:" + without_address);
  }
  return item.Save();
}

}  // namespace mailvane::zimbra
