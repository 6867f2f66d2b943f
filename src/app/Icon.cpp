#include "Icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace zorv {

QIcon programIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(1 * s, 2 * s, 30 * s, 21 * s), 6 * s, 6 * s);
    QPainterPath tail;
    tail.moveTo(8 * s, 22 * s);
    tail.lineTo(6 * s, 30 * s);
    tail.lineTo(15 * s, 22 * s);
    tail.closeSubpath();
    p.setPen(QPen(QColor(20, 60, 120), 1.2 * s));
    p.setBrush(QColor(60, 130, 210));
    p.drawPath(bubble.united(tail));
    QFont f("DejaVu Sans");
    f.setBold(true);
    f.setPixelSize(static_cast<int>(17 * s));
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(1 * s, 2 * s, 30 * s, 21 * s), Qt::AlignCenter, "Z");
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

}  // namespace zorv
