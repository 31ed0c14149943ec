// What the conversion core tells a front end (the Qt window, the command line, or a test's
// fake), in typed form: what it is doing, each file done, the set-up's failure, the end with
// its counts. Each front end turns these into its own words; nothing below the front ends
// knows which one it talks to, and no front end has to read a text to know what happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace mailvane::source {

// What the core is busy with. The subject names what it concerns: the store-side folder
// for the folder activities, the source file for the conversions, nothing otherwise.
enum class Activity {
  kSessionCreated,
  kReadingFolders,   // the folder list is being built
  kReadingFolder,    // subject: a file's relative folder
  kCreatingFolders,  // the folder list is done; the tree comes next
  kCreatingFolder,   // subject: the folder being made
  kConvertingContact,
  kConvertingAppointment,
  kConvertingTask,
  kConvertingNote,
  kConvertingMessage,
};

// The run could not start: nothing was converted.
struct SetUpFailure {
  std::string cause;     // what failed and why, in plain words
  std::error_code code;  // the system's error behind it, when there is one
};

enum class RunVerdict {
  kConverted,              // every file that a step took gave its item
  kConvertedWithFailures,  // the run ended, but something failed (see the report)
  kNothingConverted,       // files that should give items gave none, with no failure named
};

// A file has been through its steps.
struct FileProgress {
  int file_number = 0;  // 1-based, in the order read
  int file_count = 0;   // 0: the source does not know its files beforehand (a stream)
  // A stream's own progress: how far into it, when its size is known, and what was read.
  std::optional<int> stream_percent;
  std::uint64_t bytes_read = 0;
  std::string file;  // the file as shown to the user
};

// How a run ended, with its counts.
// One .pst of a run split at its size limit, and how many items it holds.
struct PstPart {
  std::string path;
  std::size_t items = 0;
};

struct RunEnd {
  RunVerdict verdict = RunVerdict::kConverted;
  std::string pst_path;
  std::string report_path;  // "" when the report could not be written
  std::size_t items_written = 0;
  std::size_t files_converted = 0;
  std::size_t files_failed = 0;
  std::size_t files_without_item = 0;
  std::size_t other_failures = 0;  // failures that belong to no file of the list
  std::vector<PstPart> parts;      // every .pst of a run split at its size limit; else empty
  // The target folder could not take the report: report_path is in the temporary folder.
  bool report_in_temp_folder = false;
  // The .pst file refused a write (disk full, I/O error, file removed) and the run stopped
  // at once: why; items_written and files_converted count what the file holds (its last
  // commit), files_lost the converted files lost with the failure, files_not_reached those
  // never looked at. Empty when the file took every write.
  std::string store_failure;
  std::size_t files_lost = 0;
  std::size_t files_not_reached = 0;
};

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // The folder for the new .pst, asked when a run starts from the window; "" cancels.
  virtual std::string ChooseTargetFolder() = 0;
  // A run has its target and begins; nothing else may start until it has ended.
  virtual void RunStarted() = 0;
  virtual void Doing(Activity activity, const std::string& subject) = 0;
  virtual void FileDone(const FileProgress& progress) = 0;
  // The first message of the run is about to be stored.
  virtual void FirstMessage() = 0;
  virtual void SetUpFailed(const SetUpFailure& failure) = 0;
  virtual void RunEnded(const RunEnd& end) = 0;

  // Lets the front end process what is pending (repaint, button presses). Called very
  // often during long work, so it must cost next to nothing when nothing is pending.
  virtual void Yield() = 0;
};

}  // namespace mailvane::source
