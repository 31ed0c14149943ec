#include "zimbra/invite.h"

#include <algorithm>

namespace mailvane::zimbra {
namespace {

Participant ReadParticipant(const MetaNode& n) {
  Participant p;
  p.name = n.Text("cn");
  p.address = n.Text("a");
  if (p.address.size() > 7 && (p.address.compare(0, 7, "mailto:") == 0 ||
                               p.address.compare(0, 7, "MAILTO:") == 0)) {
    p.address.erase(0, 7);
  }
  p.role = n.Text("r");
  p.status = n.Text("ptst");
  return p;
}

std::optional<int> SmallNumber(const MetaNode& n, std::string_view key) {
  const auto v = n.Number(key);
  if (!v || *v < -100000 || *v > 100000) return std::nullopt;
  return static_cast<int>(*v);
}

// Entries key0, key1, ... in order (the count keys of Zimbra are not always there).
std::vector<const MetaNode*> Numbered(const MetaNode& n, std::string_view key) {
  std::vector<const MetaNode*> out;
  for (int i = 0;; ++i) {
    const MetaNode* e = n.Find(std::string(key) + std::to_string(i));
    if (e == nullptr || e->kind != MetaNode::Kind::kDict) return out;
    out.push_back(e);
  }
}

std::optional<Reminder> ReadReminder(const MetaNode& inv) {
  for (const MetaNode* al : Numbered(inv, "al")) {
    const std::string action = al->Text("ac");
    if (action != "d" && action != "a" && action != "e" && !action.empty()) continue;
    Reminder r;
    if (al->Text("tt") == "a") {
      r.absolute = al->Text("ta");
    } else if (const auto seconds = DurationSeconds(al->Text("tr"))) {
      // A trigger before the start is negative; Outlook counts minutes before it.
      r.minutes_before = static_cast<int>(std::clamp<std::int64_t>(-*seconds / 60, 0, 525600));
    } else {
      continue;
    }
    return r;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> DurationSeconds(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] != 'P') return std::nullopt;
  ++i;
  bool in_time = false;
  bool any = false;
  std::int64_t total = 0;
  while (i < text.size()) {
    if (text[i] == 'T') {
      in_time = true;
      ++i;
      continue;
    }
    std::int64_t value = 0;
    const std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 9) {
      value = value * 10 + (text[i++] - '0');
    }
    if (i == start || i >= text.size()) return std::nullopt;
    const char unit = text[i++];
    if (unit == 'W' && !in_time) {
      total += value * 7 * 86400;
    } else if (unit == 'D' && !in_time) {
      total += value * 86400;
    } else if (unit == 'H' && in_time) {
      total += value * 3600;
    } else if (unit == 'M' && in_time) {
      total += value * 60;
    } else if (unit == 'S' && in_time) {
      total += value;
    } else {
      return std::nullopt;
    }
    any = true;
  }
  if (!any) return std::nullopt;
  return negative ? -total : total;
}

std::vector<const MetaNode*> InvitesOf(const MetaNode& metadata) {
  return Numbered(metadata, "inv");
}

Invite ReadInvite(const MetaNode& n) {
  Invite inv;
  inv.subject = n.Text("n");
  inv.location = n.Text("l");
  inv.description = n.Text("desc");
  inv.html_description = n.Text("descH");
  inv.start = n.Text("st");
  inv.end = n.Text("et");
  inv.all_day = (n.Number("af").value_or(0) & 0x04) != 0;
  inv.status = n.Text("status");
  inv.free_busy = n.Text("fb");
  inv.klass = n.Text("cl");
  inv.priority = SmallNumber(n, "prio");
  inv.percent_complete = SmallNumber(n, "pctcompl");
  inv.completed_ms = n.Number("completed");
  if (const MetaNode* org = n.Find("org"); org && org->kind == MetaNode::Kind::kDict) {
    inv.organizer = ReadParticipant(*org);
  }
  for (const MetaNode* at : Numbered(n, "at")) inv.attendees.push_back(ReadParticipant(*at));
  inv.reminder = ReadReminder(n);
  if (const MetaNode* rid = n.Find("rid")) inv.recurrence_id = rid->Text("dt");
  if (const MetaNode* rec = n.Find("recurrence"); rec && rec->kind == MetaNode::Kind::kDict) {
    inv.recurrence = rec;
  }
  return inv;
}

}  // namespace mailvane::zimbra
