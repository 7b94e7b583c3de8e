#pragma once
#include <QRect>
#include <QSize>

class QFont;
class QWidget;

// Dialog units to pixels for one font: a horizontal unit is a quarter of the
// font's average character width, a vertical unit an eighth of its height.
// The dialogs give their controls' places in these units, so they grow with
// the font the desktop uses.
class CDluMapper {
 public:
  explicit CDluMapper(const QFont& font);
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;
  int X(int units) const { return (units * nBaseX + 2) / 4; }
  int Y(int units) const { return (units * nBaseY + 4) / 8; }

  // Gives widget its place in dialog units.
  void Place(QWidget* widget, int x, int y, int width, int height) const;

 private:
  int nBaseX = 6;
  int nBaseY = 13;
};
