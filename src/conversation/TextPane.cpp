#include "TextPane.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "Text.h"

namespace {
constexpr int kMargin = 2;    // pixels left of the text
constexpr int kFrameMs = 16;  // at most one repaint per frame for new lines
}

TextPane::TextPane(QWidget* parent) : QAbstractScrollArea(parent) {
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setAutoFillBackground(true);
  QPalette pal = viewport()->palette();
  pal.setColor(QPalette::Base, QColor(192, 192, 192));  // silver
  pal.setColor(QPalette::Window, QColor(192, 192, 192));
  pal.setColor(QPalette::Text, Qt::black);
  viewport()->setPalette(pal);
  viewport()->setBackgroundRole(QPalette::Base);
  frameTimer_.setSingleShot(true);
  frameTimer_.setInterval(kFrameMs);
  connect(&frameTimer_, &QTimer::timeout, this, &TextPane::onFrame);
  verticalScrollBar()->setSingleStep(1);
  horizontalScrollBar()->setSingleStep(8);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    if (!settingRange_) atBottom_ = value >= verticalScrollBar()->maximum();
  });
  scheduleLayout();
}

int TextPane::lineHeight() const { return std::max(1, fontMetrics().lineSpacing()); }

int TextPane::visibleLines() const { return std::max(1, viewport()->height() / lineHeight()); }

int TextPane::topLine() const { return verticalScrollBar()->value(); }

int TextPane::lineAt(int y) const {
  const int line = topLine() + (y < 0 ? -1 : y / lineHeight());
  return std::clamp(line, 0, std::max(0, lineCount() - 1));
}

void TextPane::appendLine(const QString& line) { appendLine(zorv::fromInput(line)); }

void TextPane::appendLine(std::string line) {
  lines_.push_back(std::move(line));
  scheduleLayout();
  // Repaint only when the new line can be seen: it is within the page that
  // is shown, or the view follows the bottom.
  if (atBottom_ || lineCount() - 1 < topLine() + visibleLines() + 1) scheduleRepaint();
  emit changed();
}

void TextPane::deleteFirstLine() { deleteFirstLines(1); }

void TextPane::deleteFirstLines(int count) {
  count = std::min(count, lineCount());
  if (count <= 0) return;
  lines_.erase(lines_.begin(), lines_.begin() + count);
  // The selection follows its lines; a selection whose lines are gone ends.
  if (anchor_ >= 0) {
    anchor_ -= count;
    cursor_ -= count;
    if (anchor_ < 0 && cursor_ < 0) {
      anchor_ = cursor_ = -1;
    } else {
      anchor_ = std::max(anchor_, 0);
      cursor_ = std::max(cursor_, 0);
    }
  }
  // Keep the lines the user is reading in place.
  if (!atBottom_ && topLine() > 0) {
    settingRange_ = true;
    verticalScrollBar()->setValue(std::max(0, topLine() - count));
    settingRange_ = false;
  }
  scheduleLayout();
  scheduleRepaint();
  emit changed();
}

void TextPane::clear() {
  lines_.clear();
  maxWidth_ = 0;
  anchor_ = cursor_ = -1;
  atBottom_ = true;
  scheduleLayout();
  scheduleRepaint();
  emit changed();
}

void TextPane::beginUpdate() { ++updateDepth_; }

void TextPane::endUpdate() {
  if (updateDepth_ > 0 && --updateDepth_ == 0) scheduleRepaint();
}

// Changes made by new lines are shown at most once per frame interval, so a
// flood of lines costs a few dozen repaints a second, not one per line or
// per pass of the event loop.
void TextPane::scheduleRepaint() {
  if (updateDepth_ > 0) return;
  repaintPending_ = true;
  if (!frameTimer_.isActive()) frameTimer_.start();
}

void TextPane::scheduleLayout() {
  layoutPending_ = true;
  if (!frameTimer_.isActive()) frameTimer_.start();
}

void TextPane::onFrame() {
  if (layoutPending_) flushLayout();
  if (repaintPending_) {
    repaintPending_ = false;
    viewport()->update();
  }
}

void TextPane::flushLayout() {
  layoutPending_ = false;
  settingRange_ = true;
  QScrollBar* v = verticalScrollBar();
  const int page = visibleLines();
  v->setPageStep(page);
  v->setRange(0, std::max(0, lineCount() - page));
  if (atBottom_) v->setValue(v->maximum());
  QScrollBar* h = horizontalScrollBar();
  const int width = viewport()->width();
  h->setPageStep(std::max(1, width));
  h->setRange(0, std::max(0, maxWidth_ + 2 * kMargin - width));
  settingRange_ = false;
  atBottom_ = v->value() >= v->maximum();
}

void TextPane::scrollContentsBy(int, int) { viewport()->update(); }

void TextPane::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  flushLayout();
}

void TextPane::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    // Widths depend on the font: measure again as lines are shown.
    maxWidth_ = 0;
    scheduleLayout();
    viewport()->update();
  }
}

void TextPane::paintEvent(QPaintEvent* event) {
  QPainter p(viewport());
  const int lh = lineHeight();
  const int ascent = fontMetrics().ascent();
  const int x = kMargin - horizontalScrollBar()->value();
  const int first = topLine() + event->rect().top() / lh;
  const int last = std::min(lineCount() - 1, topLine() + event->rect().bottom() / lh);
  const int selFirst = selectionFirst();
  const int selLast = selectionLast();
  const QPalette& pal = palette();
  const QFontMetrics fm = fontMetrics();
  const int widest = std::max(1, fm.maxWidth());
  for (int i = std::max(0, first); i <= last; ++i) {
    const int y = (i - topLine()) * lh;
    const bool selected = selFirst >= 0 && i >= selFirst && i <= selLast;
    if (selected) {
      p.fillRect(QRect(0, y, viewport()->width(), lh), pal.color(QPalette::Highlight));
      p.setPen(pal.color(QPalette::HighlightedText));
    } else {
      p.setPen(Qt::black);
    }
    const std::string& bytes = lines_[static_cast<std::size_t>(i)];
    const QString text = zorv::toDisplay(bytes);
    p.drawText(x, y + ascent, text);
    // The horizontal range grows with the widest line shown so far: only
    // lines that are painted are measured, so a flood of lines costs no text
    // shaping beyond what is on screen. Lines too short to be wider than the
    // widest so far (even in the font's widest glyph) are not measured.
    if (static_cast<long long>(bytes.size()) * widest > maxWidth_) {
      const int w = fm.horizontalAdvance(text);
      if (w > maxWidth_) {
        maxWidth_ = w;
        scheduleLayout();
      }
    }
  }
}

int TextPane::selectionFirst() const { return anchor_ < 0 ? -1 : std::min(anchor_, cursor_); }
int TextPane::selectionLast() const { return anchor_ < 0 ? -1 : std::max(anchor_, cursor_); }

void TextPane::selectLines(int first, int last) {
  if (lineCount() == 0 || first < 0) {
    clearSelection();
    return;
  }
  anchor_ = std::clamp(first, 0, lineCount() - 1);
  cursor_ = std::clamp(last, 0, lineCount() - 1);
  viewport()->update();
}

void TextPane::selectAll() { selectLines(0, lineCount() - 1); }

void TextPane::clearSelection() {
  anchor_ = cursor_ = -1;
  viewport()->update();
}

QString TextPane::selectedText() const {
  QString text;
  const int first = selectionFirst();
  if (first < 0) return text;
  for (int i = first; i <= selectionLast(); ++i) {
    if (i > first) text += QLatin1Char('\n');
    text += zorv::toDisplay(lines_[static_cast<std::size_t>(i)]);
  }
  return text;
}

void TextPane::copy() const {
  const QString text = selectedText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void TextPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || lineCount() == 0) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  const int line = lineAt(event->position().toPoint().y());
  if ((event->modifiers() & Qt::ShiftModifier) && anchor_ >= 0) {
    cursor_ = line;
  } else {
    anchor_ = cursor_ = line;
  }
  viewport()->update();
}

void TextPane::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || anchor_ < 0) return;
  const int y = event->position().toPoint().y();
  // Dragging past the top or bottom edge scrolls on.
  if (y < 0) verticalScrollBar()->setValue(topLine() - 1);
  if (y > viewport()->height()) verticalScrollBar()->setValue(topLine() + 1);
  cursor_ = lineAt(y);
  viewport()->update();
}

void TextPane::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    copy();
  } else if (event->matches(QKeySequence::SelectAll)) {
    selectAll();
  } else if (event->matches(QKeySequence::MoveToStartOfDocument)) {
    verticalScrollBar()->setValue(0);
  } else if (event->matches(QKeySequence::MoveToEndOfDocument)) {
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  } else {
    QAbstractScrollArea::keyPressEvent(event);  // arrows and page keys scroll
  }
}
