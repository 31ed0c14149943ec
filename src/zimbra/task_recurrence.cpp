#include "zimbra/task_recurrence.h"

#include "zimbra/item_dates.h"
#include "zimbra/recurrence_blob.h"

namespace mailvane::zimbra {
namespace {

// The appointment part after the pattern when there are no changed occurrences: reader
// and writer versions, the times of day, the exception count and two empty blocks.
constexpr std::size_t kAppointmentPartSize = 4 + 4 + 4 + 4 + 2 + 4 + 4;

pst::messaging::NamedProperty Task(std::uint32_t lid, pst::ltp::PropType type) {
  pst::messaging::NamedProperty n;
  n.set = pst::messaging::PsetidTask();
  n.lid = lid;
  n.type = type;
  return n;
}

void Notice(GuardedItem& item, const std::string& note) {
  if (item.context().notice) item.context().notice(item.file(), note);
}

}  // namespace

void WriteTaskRecurrence(GuardedItem& item, const MetaTree& tree, const Invite& task) {
  const MetaNode* recurrence = task.recurrence;
  if (recurrence == nullptr) recurrence = tree.metadata.Find("apptRecur");
  const MetaNode* add = recurrence == nullptr ? nullptr : recurrence->Find("add");
  const MetaNode* first = add == nullptr ? nullptr : add->Find("r0");
  if (first == nullptr) return;
  const std::string text = first->Text("recur");
  const std::optional<RecurrenceRule> rule = ParseRecurrenceRule(text);
  std::optional<CalendarTime> start = ReadCalendarTime(task.start);
  if (!start) start = ReadCalendarTime(first->Text("dts"));
  std::string why;
  if (!rule) why = "its rule does not read";
  else if (!rule->unsupported.empty()) why = "Outlook has no pattern for " + rule->unsupported;
  else if (add->Find("r1") != nullptr) why = "it has more than one rule";
  else if (!start) why = "it has no start date";
  if (!why.empty()) {
    Notice(item, "the recurring task \"" + text + "\" was written as one task: " + why);
    return;
  }
  SeriesLayout series;
  series.rule = *rule;
  series.first_start = start->local;
  series.first_start.hour = series.first_start.minute = series.first_start.second = 0;
  std::vector<std::uint8_t> bytes = MakeRecurrenceBlob(series).bytes;
  const std::size_t pattern_size = bytes.size() - kAppointmentPartSize;
  if (bytes.size() <= kAppointmentPartSize || bytes[pattern_size] != 0x06 ||
      bytes[pattern_size + 1] != 0x30) {
    Notice(item, "the recurring task \"" + text + "\" was written as one task: its pattern did not form");
    return;
  }
  bytes.resize(pattern_size);
  item.Step("TaskRecurrence", [&](store::Item& i) {
    i.SetNamedProp(Task(0x8116, pst::ltp::PropType::kBinary), pst::ltp::PropValue::Binary(bytes));
    i.SetNamedProp(Task(0x8126, pst::ltp::PropType::kBoolean), pst::ltp::PropValue::Boolean(true));
    i.SetNamedProp(Task(0x8109, pst::ltp::PropType::kBoolean), pst::ltp::PropValue::Boolean(false));
  });
}

}  // namespace mailvane::zimbra
