// One mailbox of a batch as the state file and the summaries keep it: where it came from,
// where it went, what it held and how it ended.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "run/run_report.h"

namespace mailvane::cli {

// How a mailbox stands; "converting" is only ever in the state file.
inline constexpr std::string_view kConverting = "converting";
inline constexpr std::string_view kConverted = "converted";          // exit status 0
inline constexpr std::string_view kConvertedWithFailures = "failures";  // 1: see its report
inline constexpr std::string_view kStopped = "stopped";              // 1: ended before its end
inline constexpr std::string_view kNotStarted = "not started";       // 2

struct MailboxRecord {
  int line = 0;
  int position = 0;
  std::string source;
  std::string name;  // the .pst's file name, the key of the record
  std::string status{kConverting};
  int exit_status = 2;
  std::string pst;     // the file written, "" when none is kept
  std::string report;  // the run report beside it
  std::array<std::size_t, run::kItemKindCount> items{};
  std::size_t files_failed = 0;
  std::size_t files_lost = 0;         // converted, then lost when the .pst refused a write
  std::size_t files_not_reached = 0;  // never read: the .pst refused a write before them
  std::uint64_t bytes_in = 0;
  std::uint64_t bytes_out = 0;
  double seconds = 0;
  std::string error;
  std::string host;  // who is converting it (state only)
  long pid = 0;

  // The .pst is whole: a later run skips the mailbox.
  bool Completed() const { return status == kConverted || status == kConvertedWithFailures; }
};

// One line of JSON, newline included; raises std::runtime_error for what is no record.
std::string RecordJsonLine(const MailboxRecord& record);
MailboxRecord RecordFromJson(std::string_view line);

std::string SummaryCsvHeader();
std::string SummaryCsvRow(const MailboxRecord& record);

}  // namespace mailvane::cli
