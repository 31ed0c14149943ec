// The run's status line. It wraps within its box, breaks a long path anywhere, and a text
// longer than the box ends in "…" instead of being cut off; text() keeps the whole text for
// assistive tools and tests.
#pragma once

#include <QLabel>
#include <QStringList>

namespace mailvane::app {

class StatusLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

  // The lines drawn for `text` with `font` in a box of `size`.
  static QStringList FittedLines(const QString& text, const QFont& font, const QSize& size);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace mailvane::app
