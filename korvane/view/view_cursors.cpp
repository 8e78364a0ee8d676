// The view's eight cursors, drawn in code: zoom out, zoom in, cross, eraser,
// hand, pen and two finer crosses. Each is a 32 x 32 black-and-white cursor
// with a white halo so it stays visible on any image.
#include <QBitmap>
#include <QCursor>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "korvane/foundations/host/winsys.h"
#include "korvane/view/kvview.h"

namespace korvane {

namespace {

// Renders a shape as a cursor: the strokes in black over a 1-pixel white
// outline, everything else transparent.
QCursor MakeCursor(const std::function<void(QPainter&)>& draw, int hotX, int hotY) {
  QImage img(32, 32, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  {
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Halo: the shape drawn thicker in white first.
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    draw(p);
    p.setPen(QPen(Qt::black, 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    draw(p);
  }
  return QCursor(QPixmap::fromImage(img), hotX, hotY);
}

void Cross(QPainter& p, int c, int arm, int gap) {
  p.drawLine(c - arm, c, c - gap, c);
  p.drawLine(c + gap, c, c + arm, c);
  p.drawLine(c, c - arm, c, c - gap);
  p.drawLine(c, c + gap, c, c + arm);
}

void Magnifier(QPainter& p, bool plus) {
  p.drawEllipse(QRect(2, 2, 16, 16));
  p.drawLine(17, 17, 28, 28);
  p.drawLine(18, 17, 29, 28);
  p.drawLine(6, 10, 14, 10);
  if (plus) p.drawLine(10, 6, 10, 14);
}

}  // namespace

void RegisterViewCursors() {
  static bool done = false;
  if (done || !qGuiApp) return;
  done = true;
  RegisterCursor(crKVZoomOut, MakeCursor([](QPainter& p) { Magnifier(p, false); }, 10, 10));
  RegisterCursor(crKVZoomIn, MakeCursor([](QPainter& p) { Magnifier(p, true); }, 10, 10));
  RegisterCursor(crKVCross, MakeCursor([](QPainter& p) { Cross(p, 15, 12, 0); }, 15, 15));
  RegisterCursor(crKVEraser, MakeCursor(
                                 [](QPainter& p) {
                                   QPolygon body({QPoint(4, 20), QPoint(16, 8), QPoint(26, 18), QPoint(14, 30)});
                                   p.drawPolygon(body);
                                   p.drawLine(10, 14, 20, 24);
                                 },
                                 5, 24));
  RegisterCursor(crKVHand, MakeCursor(
                               [](QPainter& p) {
                                 // Palm and four fingers.
                                 for (int f = 0; f < 4; ++f) p.drawRect(QRect(8 + 4 * f, 4 + (f == 0 || f == 3 ? 3 : 0), 3, 12));
                                 p.drawRect(QRect(8, 15, 15, 10));
                                 p.drawLine(7, 20, 3, 15);
                               },
                               15, 12));
  RegisterCursor(crKVPen, MakeCursor(
                              [](QPainter& p) {
                                QPolygon pen({QPoint(1, 30), QPoint(4, 22), QPoint(24, 2), QPoint(29, 7), QPoint(9, 27)});
                                p.drawPolygon(pen);
                                p.drawLine(4, 22, 9, 27);
                              },
                              1, 30));
  RegisterCursor(crKVCross1, MakeCursor([](QPainter& p) { Cross(p, 15, 10, 3); }, 15, 15));
  RegisterCursor(crKVCross2, MakeCursor(
                                 [](QPainter& p) {
                                   Cross(p, 15, 14, 4);
                                   p.drawPoint(15, 15);
                                 },
                                 15, 15));
}

}  // namespace korvane
