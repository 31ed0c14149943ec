// One invite of a Zimbra appointment or task record (the "inv0", "inv1", ... dictionaries of
// its metadata): what the item shows, who takes part, its reminder and its progress.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zimbra/meta_tree.h"

namespace mailvane::zimbra {

struct Participant {
  std::string name;     // "cn"
  std::string address;  // "a", without a "mailto:"
  std::string role;     // "r": REQ, OPT, NON, CHA
  std::string status;   // "ptst": NE, AC, TE, DE, DG, CO, IN
};

struct Reminder {
  std::optional<int> minutes_before;  // relative ("tr"): minutes before the start
  std::string absolute;               // absolute ("ta"): a date-time text
};

struct Invite {
  std::string subject, location, description, html_description;
  std::string start, end;  // date-time texts as written ("st", "et")
  bool all_day = false;    // "af" bit 0x04
  std::string status;      // "status"
  std::string free_busy;   // "fb": F, T, B, O
  std::string klass;       // "cl": PRI, CON; empty: public
  std::optional<int> priority;          // "prio": 1 high ... 9 low
  std::optional<int> percent_complete;  // "pctcompl"
  std::optional<std::int64_t> completed_ms;
  std::optional<Participant> organizer;
  std::vector<Participant> attendees;
  std::optional<Reminder> reminder;  // the first display, audio or e-mail alarm
  std::string recurrence_id;         // "rid" "dt" of a changed occurrence
  const MetaNode* recurrence = nullptr;  // "recurrence", when the invite has one
};

Invite ReadInvite(const MetaNode& invite);

// The invites of an item's metadata, "inv0" first; none when the record holds none.
std::vector<const MetaNode*> InvitesOf(const MetaNode& metadata);

// An ISO 8601 duration ("-PT15M", "P1D", "PT1H30M", "P1W") in seconds; nullopt when it
// is none.
std::optional<std::int64_t> DurationSeconds(std::string_view text);

}  // namespace mailvane::zimbra
