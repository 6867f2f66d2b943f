#include "IconCache.h"

#include <QApplication>

QIcon IconCachingStyle::standardIcon(StandardPixmap icon, const QStyleOption* option,
                                     const QWidget* widget) const {
  // An icon asked for with a style option may depend on it; those are not kept.
  if (option) return QProxyStyle::standardIcon(icon, option, widget);
  auto it = icons_.constFind(icon);
  if (it == icons_.constEnd()) it = icons_.insert(icon, QProxyStyle::standardIcon(icon, nullptr, widget));
  return *it;
}

void IconCachingStyle::install() {
  if (qobject_cast<IconCachingStyle*>(QApplication::style())) return;
  QApplication::setStyle(new IconCachingStyle(QApplication::style()->name()));
}
