#include "WindowPlacement.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <algorithm>

WindowPlacement::WindowPlacement(QObject* parent) : QObject(parent) { setObjectName("WindowPlacement"); }

QStringList WindowPlacement::settingsItems() {
  QStringList items;
  for (const char* key : {"Left", "Top", "Width", "Height", "Maximized", "ChildMaximized"})
    items << QStringLiteral("WindowPlacement;%1;0;Window;%1;1;0").arg(QLatin1String(key));
  return items;
}

void WindowPlacement::applyTo(QMainWindow& frame) const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect available = screen ? screen->availableGeometry() : QRect();
  if (width > 0 && height > 0)
    frame.setGeometry(zorv::fitInside(QRect(left, top, width, height), available));
  else if (available.isValid())
    frame.setGeometry(zorv::firstPlace(available, frame.minimumSizeHint()));
  if (maximized) frame.setWindowState(frame.windowState() | Qt::WindowMaximized);
}

void WindowPlacement::takeFrom(const QMainWindow& frame, const QMdiArea& area) {
  const QRect normal = frame.isMaximized() ? frame.normalGeometry() : frame.geometry();
  if (normal.isValid()) {
    left = normal.x();
    top = normal.y();
    width = normal.width();
    height = normal.height();
  }
  maximized = frame.isMaximized();
  // The current window, not the active one: a frame that is closing is no
  // longer the application's active window, and its area then has none.
  const QMdiSubWindow* current = area.currentSubWindow();
  childMaximized = current && current->isMaximized();
}

namespace zorv {

QRect fitInside(const QRect& saved, const QRect& available) {
  if (!available.isValid()) return saved;
  const int w = std::min(saved.width(), available.width());
  const int h = std::min(saved.height(), available.height());
  const int x = std::clamp(saved.x(), available.left(), available.left() + available.width() - w);
  const int y = std::clamp(saved.y(), available.top(), available.top() + available.height() - h);
  return {x, y, w, h};
}

QRect firstPlace(const QRect& available, const QSize& minimum) {
  const QSize size = QSize(available.width() * 2 / 3, available.height() * 2 / 3)
                         .expandedTo(minimum)
                         .boundedTo(available.size());
  return {available.x() + (available.width() - size.width()) / 2,
          available.y() + (available.height() - size.height()) / 2, size.width(), size.height()};
}

}  // namespace zorv
