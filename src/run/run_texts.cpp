#include "run/run_texts.h"

#include <cerrno>

#include "source/size_text.h"

namespace mailvane::run {

using source::Activity;

std::string StatusText(Activity activity, const std::string& subject) {
  switch (activity) {
    case Activity::kSessionCreated: return "Outlook Session Created...";
    case Activity::kReadingFolders: return "Reading Zimbra Folder(s)...";
    case Activity::kReadingFolder: return "Reading Zimbra Folder... " + subject;
    case Activity::kCreatingFolders: return "Creating Outlook Folders...";
    case Activity::kCreatingFolder: return "Creating Outlook Folders... " + subject;
    case Activity::kConvertingContact: return "Converting Contacts... from (" + subject + ")";
    case Activity::kConvertingAppointment: return "Converting Calendars... from (" + subject + ")";
    case Activity::kConvertingTask: return "Converting Tasks... from (" + subject + ")";
    case Activity::kConvertingNote: return "Converting Notes... from (" + subject + ")";
    case Activity::kConvertingMessage: return "Converting Messages... from (" + subject + ")";
  }
  return subject;
}

std::string ProgressCaption(const source::FileProgress& p) {
  const std::string number = std::to_string(p.file_number);
  if (p.file_count > 0) {
    return "Details : Reading - (" + number + " of " + std::to_string(p.file_count) + ") file(s)";
  }
  return "Details : Reading - (" + number + ") file(s), " +
         (p.stream_percent ? std::to_string(*p.stream_percent) + " %"
                           : source::SizeText(p.bytes_read) + " read") +
         " - " + p.file;
}

std::optional<int> ProgressPercent(const source::FileProgress& p) {
  if (p.file_count <= 0) return p.stream_percent;
  // In double precision, then single as the bar takes it: the last file gives 100.
  const double percent = static_cast<double>(p.file_number) / p.file_count * 100.0;
  return static_cast<int>(static_cast<float>(percent));
}

BoxText EndBox(const source::RunEnd& end) {
  // A run split at the size limit names its files and what each holds.
  std::string parts;
  if (!end.parts.empty()) {
    parts = "\r\nPST files: " + std::to_string(end.parts.size()) + " (split at the size limit)";
    for (const source::PstPart& p : end.parts) {
      parts += "\r\n  " + p.path + ": " + std::to_string(p.items) + " items";
    }
  }
  const std::string see_report =
      end.report_path.empty() ? "\r\nThe report could not be written."
      : end.report_in_temp_folder
          ? "\r\nThe target folder could not take the report; it is in the temporary folder: " +
                end.report_path
          : "\r\nSee the report: " + end.report_path;
  switch (end.verdict) {
    case source::RunVerdict::kConverted:
      return {kCompletionText + (parts.empty() ? "\r\n" + end.pst_path : parts), kCompletionTitle,
              source::MessageBoxIcon::kInformation};
    case source::RunVerdict::kNothingConverted:
      return {"No Zimbra item was converted.\r\n" + std::to_string(end.files_without_item) +
                  " file(s) were taken by a step but gave no item." + see_report,
              kCompletionTitle, source::MessageBoxIcon::kWarning};
    case source::RunVerdict::kConvertedWithFailures:
      break;
  }
  std::string text = "Zimbra Messages Converted with Errors.\r\n" +
                     std::to_string(end.files_converted) + " file(s) converted, " +
                     std::to_string(end.files_failed) + " file(s) failed.";
  if (end.other_failures > 0) {
    text += "\r\n" + std::to_string(end.other_failures) + " other failure(s).";
  }
  if (!end.store_failure.empty()) {
    text += "\r\nThe conversion stopped: the .pst file refused a write: " + end.store_failure +
            "\r\nThe .pst file holds " + std::to_string(end.items_written) +
            " item(s), those of its last safe point; " + std::to_string(end.files_lost) +
            " converted file(s) were lost with the failure and " +
            std::to_string(end.files_not_reached) + " file(s) were not reached.";
  }
  return {text + parts + see_report, kCompletionTitle, source::MessageBoxIcon::kWarning};
}

namespace {

// What the user can do about a set-up that failed with this error.
const char* SetUpAdvice(std::error_code code) {
  if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted ||
      code == std::errc::read_only_file_system || code == std::errc::no_such_file_or_directory) {
    return "Choose a folder you may write to.";
  }
  if (code == std::errc::no_space_on_device || code == std::errc::file_too_large ||
      code.value() == EDQUOT) {
    return "Free some space on that disk, or choose a folder on another disk.";
  }
  if (code == std::errc::not_a_directory || code == std::errc::file_exists) {
    return "Choose a folder, not a file.";
  }
  return "Choose another folder to save to, or mend the cause above and try again.";
}

}  // namespace

BoxText SetUpFailureBox(const source::SetUpFailure& failure) {
  return {std::string(kSessionErrorText) + "\r\nCause : " + failure.cause + "\r\n" +
              SetUpAdvice(failure.code),
          kSessionErrorTitle, source::MessageBoxIcon::kInformation};
}

std::string NotStartedStatus(const source::SetUpFailure& failure) {
  return "Conversion not started: " + failure.cause;
}

}  // namespace mailvane::run
