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
  if (width > 0 && height > 0) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect saved(left, top, width, height);
    frame.setGeometry(screen ? zorv::fitInside(saved, screen->availableGeometry()) : saved);
  }
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
  const QMdiSubWindow* active = area.activeSubWindow();
  childMaximized = active && active->isMaximized();
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

}  // namespace zorv
