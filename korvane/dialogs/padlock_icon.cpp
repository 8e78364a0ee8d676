#include "korvane/dialogs/padlock_icon.h"

#include <QPainter>
#include <QPixmap>

namespace korvane {

QIcon PadlockIcon() {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(60, 60, 60), 2));
  p.drawArc(QRectF(4, 1.5, 8, 9), 0, 180 * 16);
  p.drawLine(QPointF(4, 6), QPointF(4, 8));
  p.drawLine(QPointF(12, 6), QPointF(12, 8));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 150, 30));
  p.drawRoundedRect(QRectF(2, 7.5, 12, 8), 1.5, 1.5);
  p.setBrush(QColor(60, 60, 60));
  p.drawEllipse(QRectF(6.5, 9.5, 3, 3));
  return QIcon(pm);
}

}  // namespace korvane
