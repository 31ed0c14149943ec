// What the conversion core asks of a front end (the Qt window, the command line, or a
// test's fake). Nothing below the front ends knows which one it talks to.
#pragma once

#include <cstdint>
#include <string>

namespace mailvane::source {

enum class MessageBoxIcon { kNone, kInformation, kWarning, kCritical, kQuestion };
enum class MessageBoxButtons { kOk, kYesNo };
enum class MessageBoxAnswer { kOk, kYes, kNo };

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // The status label of a run (LblCurrentDBX).
  virtual void SetStatusText(const std::string& text) = 0;
  // The caption of the "Details" frame (FrameConversion).
  virtual void SetFrameCaption(const std::string& text) = 0;
  // The progress bar (ProgressBar1).
  virtual void SetProgressRange(int minimum, int maximum) = 0;
  virtual void SetProgressValue(int value) = 0;
  // The "Convert &Messages" and "Add Folder having Zimbra File(s)..." buttons.
  virtual void SetConvertEnabled(bool enabled) = 0;
  virtual void SetAddFolderEnabled(bool enabled) = 0;
  // The count label (lblCount1).
  virtual void SetCountText(const std::string& text) = 0;

  // A folder-browse dialog with that title; "" when cancelled. The path the user chose,
  // without a trailing separator unless it is the root.
  virtual std::string BrowseForFolder(const std::string& title) = 0;
  // Opens a document or web address with the desktop's default program; false when none.
  virtual bool ShellOpen(const std::string& address) = 0;
  virtual MessageBoxAnswer ShowMessage(const std::string& text, const std::string& title,
                                       MessageBoxIcon icon,
                                       MessageBoxButtons buttons = MessageBoxButtons::kOk) = 0;

  // Lets the front end process what is pending (repaint, button presses). Called very
  // often during long work, so it must cost next to nothing when nothing is pending.
  virtual void Yield() = 0;
};

}  // namespace mailvane::source
