#include "app/ui/device_icons.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace {

struct RecorderColours {
  QColor body;
  QColor edge;
  QColor light;
};

RecorderColours ColoursFor(int32_t image) {
  if (image == 1) return {QColor(0x3c, 0xa5, 0x3c), QColor(0x1f, 0x5e, 0x1f), QColor(0xb8, 0xff, 0x6a)};
  return {QColor(0xa4, 0xa4, 0xa4), QColor(0x5a, 0x5a, 0x5a), QColor(0x60, 0x60, 0x60)};
}

// A recorder box with a lens, a status light and an antenna, in a 48-pixel square.
void PaintRecorder(QPainter& p, const RecorderColours& c) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(c.edge, 2));
  p.drawLine(QPointF(36, 14), QPointF(41, 4));
  p.setBrush(c.edge);
  p.drawEllipse(QPointF(41, 4), 2, 2);
  p.setBrush(c.body);
  p.drawRoundedRect(QRectF(4, 14, 40, 26), 5, 5);
  p.setBrush(QColor(0x30, 0x30, 0x38));
  p.drawEllipse(QPointF(17, 27), 8, 8);
  p.setBrush(QColor(0x8a, 0xb4, 0xe8));
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPointF(15, 25), 2.5, 2.5);
  p.setBrush(c.light);
  p.setPen(QPen(c.edge, 1));
  p.drawEllipse(QPointF(36, 21), 3, 3);
  p.setBrush(c.edge);
  p.drawRect(QRectF(30, 30, 10, 5));
}

QPixmap DrawAppPixmap(int size) {
  QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 48.0, size / 48.0);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1d, 0x4f, 0x91));
  p.drawRoundedRect(QRectF(2, 2, 44, 44), 8, 8);
  QPainterPath z;
  z.moveTo(13, 12);
  z.lineTo(35, 12);
  z.lineTo(14, 36);
  z.lineTo(36, 36);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.drawPath(z);
  p.end();
  return QPixmap::fromImage(img);
}

}  // namespace

QPixmap DrawDevicePixmap(int32_t image) {
  QImage img(ICON_DEVICE_SIZE, ICON_DEVICE_SIZE, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  PaintRecorder(p, ColoursFor(image));
  p.end();
  return QPixmap::fromImage(img);
}

QIcon MakeDeviceIcon(int32_t image) { return QIcon(DrawDevicePixmap(image)); }

QIcon MakeAppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) icon.addPixmap(DrawAppPixmap(size));
  return icon;
}
