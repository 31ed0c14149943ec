#include "app/status_label.h"

#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <algorithm>

namespace mailvane::app {

QStringList StatusLabel::FittedLines(const QString& text, const QFont& font, const QSize& size) {
  const QFontMetrics metrics(font);
  const qsizetype max_lines = std::max(1, size.height() / metrics.lineSpacing());
  QString flowing = text;
  flowing.replace(QLatin1Char('\n'), QChar::LineSeparator);

  QTextLayout layout(flowing, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  QStringList lines;
  int last_start = 0;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(size.width());
    if (lines.size() == max_lines) {
      // More text than room: the last line that fits shows where it was cut.
      QString rest = flowing.mid(last_start);
      rest.replace(QChar::LineSeparator, QLatin1Char(' '));
      lines.back() = metrics.elidedText(rest, Qt::ElideRight, size.width());
      break;
    }
    last_start = line.textStart();
    QString shown = flowing.mid(line.textStart(), line.textLength());
    shown.remove(QChar::LineSeparator);
    while (shown.endsWith(QLatin1Char(' '))) shown.chop(1);
    lines << shown;
  }
  layout.endLayout();
  return lines;
}

void StatusLabel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QRect box = contentsRect();
  const int step = fontMetrics().lineSpacing();
  int top = box.top();
  for (const QString& line : FittedLines(text(), font(), box.size())) {
    style()->drawItemText(&painter, QRect(box.left(), top, box.width(), step),
                          Qt::AlignLeft | Qt::AlignTop, palette(), isEnabled(), line,
                          foregroundRole());
    top += step;
  }
}

}  // namespace mailvane::app
