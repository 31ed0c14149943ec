// A label that reads like a link: blue text, the pointing-hand cursor, and a click signal.
// It takes the keyboard focus with Tab and is activated by Space or Enter, as a button is.
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
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace mailvane::app
