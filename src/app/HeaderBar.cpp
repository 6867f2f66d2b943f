#include "HeaderBar.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionHeader>
#include <QToolTip>

#include "Formatting.h"
#include "Text.h"

namespace {
// Room the style leaves around a section's text (frame and margins).
constexpr int kTextMargin = 8;

// A section shows its window's caption without formatting codes.
QString shownText(const std::string& text) { return zorv::toDisplay(zorv::fmt::strip(text)); }
}  // namespace

HeaderBar::HeaderBar(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFixedHeight(17);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void HeaderBar::addSection(const std::string& text) {
  texts_.push_back(text);
  mentions_.push_back(false);
  update();
}

void HeaderBar::setSectionMention(int i, bool on) {
  if (i < 0 || i >= count() || mentions_[static_cast<size_t>(i)] == on) return;
  mentions_[static_cast<size_t>(i)] = on;
  update();
}

bool HeaderBar::sectionMention(int i) const { return i >= 0 && i < count() && mentions_[static_cast<size_t>(i)]; }

QColor HeaderBar::mentionColor() { return QColor(0xC0, 0x00, 0x00); }

void HeaderBar::setSectionText(int i, const std::string& text) {
  if (i < 0 || i >= count()) return;
  texts_[static_cast<size_t>(i)] = text;
  update();
}

void HeaderBar::setSectionWidths(int width) {
  if (width == width_) return;
  width_ = width;
  update();
}

void HeaderBar::clear() {
  texts_.clear();
  mentions_.clear();
  hot_ = pressed_ = active_ = -1;
  update();
}

void HeaderBar::setActiveSection(int i) {
  if (i < -1 || i >= count()) i = -1;
  if (i == active_) return;
  active_ = i;
  update();
}

int HeaderBar::sectionAt(int x) const {
  if (width_ <= 0 || x < 0) return -1;
  const int i = x / width_;
  return i < count() ? i : -1;
}

bool HeaderBar::isElided(int i) const {
  if (i < 0 || i >= count()) return false;
  const int needed = fontMetrics().horizontalAdvance(shownText(sectionText(i))) + kTextMargin;
  return needed > width_;
}

QString HeaderBar::toolTipAt(int x) const {
  const int i = sectionAt(x);
  if (isElided(i)) return shownText(sectionText(i));
  return toolTip();
}

bool HeaderBar::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(e);
    const QString tip = toolTipAt(help->pos().x());
    if (tip.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(help->globalPos(), tip, this);
    return true;
  }
  return QWidget::event(e);
}

QSize HeaderBar::sizeHint() const { return {100, 17}; }

void HeaderBar::resizeEvent(QResizeEvent*) {
  if (OnResize) OnResize();
}

void HeaderBar::paintEvent(QPaintEvent* e) {
  if (width_ <= 0) return;
  QPainter p(this);
  // Only the sections inside the repainted area are drawn.
  const int first = std::max(0, e->rect().left() / width_);
  const int last = std::min(count() - 1, e->rect().right() / width_);
  for (int i = first; i <= last; ++i) {
    QStyleOptionHeader opt;
    opt.initFrom(this);
    opt.rect = QRect(i * width_, 0, width_, height());
    opt.text = shownText(sectionText(i));
    if (mentions_[static_cast<size_t>(i)]) opt.palette.setColor(QPalette::ButtonText, mentionColor());
    opt.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    opt.section = i;
    opt.position = QStyleOptionHeader::Middle;
    opt.state = QStyle::State_Enabled | QStyle::State_Raised;
    if (i == hot_) opt.state |= QStyle::State_MouseOver;
    if (i == pressed_ || i == active_) opt.state |= QStyle::State_Sunken;
    // The active window's tab is drawn pressed in and selected (bold text).
    if (i == active_) opt.state |= QStyle::State_On;
    style()->drawControl(QStyle::CE_Header, &opt, &p, this);
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
