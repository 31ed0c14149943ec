// The window's modal boxes and shell calls, behind one interface so that tests answer
// them instead of a person (no test may wait on a modal box).
#pragma once

#include <memory>
#include <string>

#include "source/message_box.h"

class QWidget;

namespace mailvane::app {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A folder-browse dialog owned by owner; "" when cancelled.
  virtual std::string ChooseFolder(QWidget* owner, const std::string& title) = 0;
  // A message box; a Yes/No box has Yes as its default button.
  virtual source::MessageBoxAnswer ShowMessage(QWidget* owner, const std::string& text,
                                               const std::string& title,
                                               source::MessageBoxIcon icon,
                                               source::MessageBoxButtons buttons) = 0;
  // Opens a document or web address in the desktop's default program; false when none.
  virtual bool OpenAddress(const std::string& address) = 0;
};

// Qt's own folder dialog, message box and desktop services.
std::unique_ptr<Dialogs> CreateQtDialogs();

}  // namespace mailvane::app
