// The product's words for what a run reports: status line, "Details" caption, the boxes at
// the end. The core reports in typed form (source/front_end.h); the front ends turn the
// reports into these texts, which people know and the tests compare exactly.
#pragma once

#include <optional>
#include <string>

#include "source/front_end.h"
#include "source/message_box.h"

namespace mailvane::run {

inline constexpr const char* kApplicationTitle = "Larkwell Mailvane";
inline constexpr const char* kWindowCaption = "Larkwell Mailvane v4.3";
inline constexpr const char* kVersion = "4.3";

inline constexpr const char* kChooseTargetTitle = "Choose Folder to Save...";
inline constexpr const char* kChooseSourceTitle = "Choose Source Folder...";

inline constexpr const char* kCompletionTitle = "Mailvane";
inline constexpr const char* kCompletionText =
    "Zimbra Messages Converted Successfully.\r\nOpen Outlook to view converted PST file.";

// The set-up failed: the box keeps its title and first line; the cause and what to do
// follow (no Outlook is involved here).
inline constexpr const char* kSessionErrorTitle = "Outlook Error";
inline constexpr const char* kSessionErrorText = "Outlook Session Creation Error !";

struct BoxText {
  std::string text;  // lines separated by CR LF
  std::string title;
  source::MessageBoxIcon icon = source::MessageBoxIcon::kInformation;
};

// The status line for an activity and its subject.
std::string StatusText(source::Activity activity, const std::string& subject);
// "Details : Reading - (k of n) file(s)" and the bar's value, k/n x 100; for a stream,
// the files read so far, how far into it, and the file just read. No value: the bar stays.
std::string ProgressCaption(const source::FileProgress& progress);
std::optional<int> ProgressPercent(const source::FileProgress& progress);

// The box at the end of a run: success with the .pst's path, or what went wrong.
BoxText EndBox(const source::RunEnd& end);
// The "Outlook Error" box: its first line, the cause, and what the user can do about it.
BoxText SetUpFailureBox(const source::SetUpFailure& failure);
// The status line after a failed set-up: it must not say that anything was created.
std::string NotStartedStatus(const source::SetUpFailure& failure);

}  // namespace mailvane::run
