#pragma once
// A style that keeps the standard icons it has made. Every conversation
// window's frame asks for its title-bar and system-menu icons when it is
// created; the plain style decodes them from image files each time, which
// made opening many private windows at once slow.
#include <QHash>
#include <QIcon>
#include <QProxyStyle>

class IconCachingStyle : public QProxyStyle {
  Q_OBJECT
 public:
  using QProxyStyle::QProxyStyle;
  QIcon standardIcon(StandardPixmap icon, const QStyleOption* option = nullptr,
                     const QWidget* widget = nullptr) const override;

  // Puts the caching style in front of the application's style, once.
  static void install();

 private:
  mutable QHash<int, QIcon> icons_;
};
