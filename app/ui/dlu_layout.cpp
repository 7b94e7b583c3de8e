#include "app/ui/dlu_layout.h"

#include <QFont>
#include <QFontMetrics>
#include <QWidget>

CDluMapper::CDluMapper(const QFont& font) {
  QFontMetrics metrics(font);
  static const QString kAlphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  int average = (metrics.horizontalAdvance(kAlphabet) / 26 + 1) / 2;
  if (average > 0) nBaseX = average;
  if (metrics.height() > 0) nBaseY = metrics.height();
}

QRect CDluMapper::Rect(int x, int y, int width, int height) const {
  return QRect(X(x), Y(y), X(width), Y(height));
}

QSize CDluMapper::Size(int width, int height) const { return QSize(X(width), Y(height)); }

void CDluMapper::Place(QWidget* widget, int x, int y, int width, int height) const {
  widget->setGeometry(Rect(x, y, width, height));
}
