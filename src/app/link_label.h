// A label that reads like a link: blue text, the pointing-hand cursor, and a click signal.
#pragma once

#include <QLabel>

namespace mailvane::app {

class LinkLabel : public QLabel {
  Q_OBJECT

 public:
  explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace mailvane::app
