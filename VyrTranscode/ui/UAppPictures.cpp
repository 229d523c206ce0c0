#include "ui/UAppPictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

void DrawArrow(QPainter& APainter, const QRectF& ABox, const QColor& AFill, const QColor& AEdge,
               qreal AEdgeWidth) {
  // A right-pointing arrow filling ABox: a shaft and a head.
  const qreal x = ABox.left(), y = ABox.top(), w = ABox.width(), h = ABox.height();
  QPainterPath p;
  p.moveTo(x, y + h * 0.32);
  p.lineTo(x + w * 0.55, y + h * 0.32);
  p.lineTo(x + w * 0.55, y);
  p.lineTo(x + w, y + h * 0.5);
  p.lineTo(x + w * 0.55, y + h);
  p.lineTo(x + w * 0.55, y + h * 0.68);
  p.lineTo(x, y + h * 0.68);
  p.closeSubpath();
  APainter.setPen(QPen(AEdge, AEdgeWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  APainter.setBrush(AFill);
  APainter.drawPath(p);
}

}  // namespace

QPixmap MakeWindowIconPixmap() {
  QImage img(128, 128, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);

  // Tile.
  QLinearGradient bg(0, 0, 0, 128);
  bg.setColorAt(0, QColor(92, 160, 226));
  bg.setColorAt(1, QColor(28, 86, 160));
  p.setPen(QPen(QColor(20, 60, 120), 2));
  p.setBrush(bg);
  p.drawRoundedRect(QRectF(4, 4, 120, 120), 22, 22);

  // Camera body and lens.
  p.setPen(QPen(QColor(30, 40, 60), 2));
  p.setBrush(QColor(245, 248, 252));
  p.drawRoundedRect(QRectF(16, 30, 62, 44), 8, 8);
  QPainterPath lens;
  lens.moveTo(78, 44);
  lens.lineTo(98, 32);
  lens.lineTo(98, 72);
  lens.lineTo(78, 60);
  lens.closeSubpath();
  p.drawPath(lens);
  p.setBrush(QColor(220, 40, 40));
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPointF(28, 42), 5, 5);

  // Film strip below.
  p.setBrush(QColor(36, 36, 44));
  p.drawRoundedRect(QRectF(16, 84, 96, 28), 4, 4);
  p.setBrush(QColor(245, 248, 252));
  for (int i = 0; i < 8; ++i) {
    p.drawRect(QRectF(21 + i * 11.5, 87, 6, 4));
    p.drawRect(QRectF(21 + i * 11.5, 105, 6, 4));
  }
  p.setBrush(QColor(166, 202, 240));
  for (int i = 0; i < 3; ++i) p.drawRect(QRectF(22 + i * 31, 93, 26, 10));

  // Green arrow from the camera to the film.
  DrawArrow(p, QRectF(84, 52, 34, 30), QColor(60, 190, 70), QColor(20, 100, 30), 2);
  p.end();
  return QPixmap::fromImage(img);
}

QIcon MakeWindowIcon() { return QIcon(MakeWindowIconPixmap()); }

QPixmap MakeOpenFolderPixmap() {
  QImage img(20, 20, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor edge(150, 110, 20);

  // Back of the folder with its tab.
  QPainterPath back;
  back.moveTo(1.5, 4.5);
  back.lineTo(7.0, 4.5);
  back.lineTo(8.5, 6.0);
  back.lineTo(15.5, 6.0);
  back.lineTo(15.5, 17.5);
  back.lineTo(1.5, 17.5);
  back.closeSubpath();
  p.setPen(QPen(edge, 1));
  p.setBrush(QColor(230, 180, 50));
  p.drawPath(back);

  // The opened front flap.
  QPainterPath front;
  front.moveTo(4.0, 9.5);
  front.lineTo(18.5, 9.5);
  front.lineTo(15.5, 17.5);
  front.lineTo(1.5, 17.5);
  front.closeSubpath();
  QLinearGradient g(0, 9, 0, 18);
  g.setColorAt(0, QColor(255, 226, 120));
  g.setColorAt(1, QColor(245, 196, 60));
  p.setBrush(g);
  p.drawPath(front);

  // Green arrow into the folder.
  DrawArrow(p, QRectF(9.0, 0.5, 10.0, 8.0), QColor(50, 180, 60), QColor(20, 100, 30), 0.8);
  p.end();
  return QPixmap::fromImage(img);
}
