#include "HeaderBar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionHeader>

#include "Text.h"

HeaderBar::HeaderBar(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFixedHeight(17);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void HeaderBar::addSection(const std::string& text) {
  sections_.push_back({text, 0});
  update();
}

void HeaderBar::setSectionText(int i, const std::string& text) {
  if (i < 0 || i >= count()) return;
  sections_[static_cast<size_t>(i)].text = text;
  update();
}

void HeaderBar::setSectionWidth(int i, int width) {
  if (i < 0 || i >= count()) return;
  sections_[static_cast<size_t>(i)].width = width;
  update();
}

void HeaderBar::clear() {
  sections_.clear();
  hot_ = pressed_ = -1;
  update();
}

int HeaderBar::sectionAt(int x) const {
  int left = 0;
  for (int i = 0; i < count(); ++i) {
    const int w = sections_[static_cast<size_t>(i)].width;
    if (x >= left && x < left + w) return i;
    left += w;
  }
  return -1;
}

QSize HeaderBar::sizeHint() const { return {100, 17}; }

void HeaderBar::resizeEvent(QResizeEvent*) {
  if (OnResize) OnResize();
}

void HeaderBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  int left = 0;
  for (int i = 0; i < count(); ++i) {
    const Section& s = sections_[static_cast<size_t>(i)];
    QStyleOptionHeader opt;
    opt.initFrom(this);
    opt.rect = QRect(left, 0, s.width, height());
    opt.text = zorv::toDisplay(s.text);
    opt.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    opt.section = i;
    opt.position = QStyleOptionHeader::Middle;
    opt.state = QStyle::State_Enabled | QStyle::State_Raised;
    if (i == hot_) opt.state |= QStyle::State_MouseOver;
    if (i == pressed_) opt.state |= QStyle::State_Sunken;
    style()->drawControl(QStyle::CE_Header, &opt, &p, this);
    left += s.width;
  }
}

void HeaderBar::mousePressEvent(QMouseEvent* e) {
  pressed_ = sectionAt(e->position().toPoint().x());
  update();
}

void HeaderBar::mouseReleaseEvent(QMouseEvent* e) {
  const int at = sectionAt(e->position().toPoint().x());
  const int was = pressed_;
  pressed_ = -1;
  update();
  if (at >= 0 && at == was && OnSectionClick) OnSectionClick(at);
}

void HeaderBar::mouseMoveEvent(QMouseEvent* e) {
  const int at = sectionAt(e->position().toPoint().x());
  if (at != hot_) {
    hot_ = at;
    update();
  }
}

void HeaderBar::leaveEvent(QEvent*) {
  hot_ = -1;
  update();
}
