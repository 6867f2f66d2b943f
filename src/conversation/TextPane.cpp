#include "TextPane.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <algorithm>

#include "Formatting.h"
#include "Text.h"

namespace {
constexpr int kMargin = 2;    // pixels left of the text
constexpr int kFrameMs = 16;  // at most one repaint per frame for new lines
}

TextPane::TextPane(QWidget* parent) : QAbstractScrollArea(parent) {
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(wrap_ ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setAutoFillBackground(true);
  QPalette pal = viewport()->palette();
  pal.setColor(QPalette::Base, QColor::fromRgb(zorv::fmt::kChatBackground));
  pal.setColor(QPalette::Window, QColor::fromRgb(zorv::fmt::kChatBackground));
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

int TextPane::lineAt(int y) {
  int line = topLine() + (y < 0 ? -1 : y / lineHeight());
  if (wrap_ && y >= 0) {
    line = topLine();
    for (int top = 0; line < lineCount() - 1; ++line) {
      top += rowsOf(line) * lineHeight();
      if (y < top) break;
    }
  }
  return std::clamp(line, 0, std::max(0, lineCount() - 1));
}

// --- word wrap ----------------------------------------------------------------

void TextPane::setWordWrap(bool on) {
  if (on == wrap_) return;
  wrap_ = on;
  rows_.clear();
  if (wrap_) rows_.assign(lines_.size(), 0);
  rowsWidth_ = -1;
  setHorizontalScrollBarPolicy(wrap_ ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
  flushLayout();
  viewport()->update();
}

int TextPane::wrapWidth() const { return std::max(1, viewport()->width() - 2 * kMargin); }

void TextPane::syncRows() {
  while (rows_.size() > lines_.size()) rows_.pop_front();
  if (rows_.size() < lines_.size()) rows_.insert(rows_.begin(), lines_.size() - rows_.size(), 0);
  if (rowsWidth_ != wrapWidth()) {
    std::fill(rows_.begin(), rows_.end(), 0);
    rowsWidth_ = wrapWidth();
  }
}

namespace {

QTextOption wrapOption() {
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  return option;
}

// Lays text out in rows of the given width and height, the first at the top.
int layOut(QTextLayout& layout, int width, int rowHeight) {
  layout.setTextOption(wrapOption());
  layout.beginLayout();
  int rows = 0;
  for (QTextLine row = layout.createLine(); row.isValid(); row = layout.createLine()) {
    row.setLineWidth(width);
    row.setPosition(QPointF(0, rows * rowHeight));
    ++rows;
  }
  layout.endLayout();
  return std::max(1, rows);
}

}  // namespace

// Whether a line surely fits on one row, found without shaping it: it is
// too short to reach the edge even in the font's widest glyph, or it is
// printable ASCII whose glyph advances (plus a margin for kerning) fit.
bool TextPane::fitsOneRow(const std::string& bytes) {
  const QFontMetrics fm = fontMetrics();
  if (static_cast<long long>(bytes.size()) * std::max(1, fm.maxWidth()) <= rowsWidth_) return true;
  if (asciiAdvance_.empty()) {
    asciiAdvance_.resize(95);
    for (int c = 32; c < 127; ++c) asciiAdvance_[static_cast<std::size_t>(c - 32)] = fm.horizontalAdvance(QChar(c));
  }
  long long width = 0;
  for (const char c : bytes) {
    if (c < 32 || c >= 127) return false;
    width += asciiAdvance_[static_cast<std::size_t>(c - 32)];
    if (width > rowsWidth_) return false;
  }
  return width + width / 16 + 2 <= rowsWidth_;
}

int TextPane::rowsOf(int index) {
  if (!wrap_) return 1;
  syncRows();
  int& rows = rows_.at(static_cast<std::size_t>(index));
  if (rows > 0) return rows;
  const std::string& bytes = lines_[static_cast<std::size_t>(index)];
  if (fitsOneRow(bytes)) {
    rows = 1;
  } else {
    QTextLayout layout(zorv::toDisplay(bytes), font());
    rows = layOut(layout, rowsWidth_, lineHeight());
    ++wrapLayouts_;
  }
  return rows;
}

// The top line of the view at the bottom: the first of the last lines that
// fit into the view whole (the last line alone when it is taller).
int TextPane::bottomTopLine() {
  const int page = visibleLines();
  int top = lineCount();
  for (int rows = 0; top > 0 && rows + rowsOf(top - 1) <= page; --top) rows += rowsOf(top - 1);
  return std::min(top, std::max(0, lineCount() - 1));
}

void TextPane::paintWrapped(QPainter& p, const QRect& area) {
  const int lh = lineHeight();
  const int ascent = fontMetrics().ascent();
  const int width = viewport()->width();
  const int selFirst = selectionFirst();
  const int selLast = selectionLast();
  const QPalette& pal = palette();
  syncRows();
  int y = 0;
  for (int i = topLine(); i < lineCount() && y <= area.bottom(); ++i) {
    const int counted = rowsOf(i);
    if (y + counted * lh <= area.top()) {
      y += counted * lh;
      continue;
    }
    const std::string& bytes = lines_[static_cast<std::size_t>(i)];
    const bool selected = selFirst >= 0 && i >= selFirst && i <= selLast;
    p.setPen(selected ? pal.color(QPalette::HighlightedText) : QColor(Qt::black));
    if (counted == 1 && fitsOneRow(bytes)) {  // one row: drawn as it is, no layout
      if (selected) p.fillRect(QRect(0, y, width, lh), pal.color(QPalette::Highlight));
      p.drawText(kMargin, y + ascent, zorv::toDisplay(bytes));
      y += lh;
      continue;
    }
    QTextLayout layout(zorv::toDisplay(bytes), font());
    const int rows = layOut(layout, rowsWidth_, lh);
    ++wrapLayouts_;
    if (rows != counted) {  // the row count was an estimate: keep the real one
      rows_[static_cast<std::size_t>(i)] = rows;
      scheduleLayout();
    }
    if (selected) p.fillRect(QRect(0, y, width, rows * lh), pal.color(QPalette::Highlight));
    layout.draw(&p, QPointF(kMargin, y));
    y += rows * lh;
  }
}

void TextPane::appendLine(const QString& line) { appendLine(zorv::fromInput(line)); }

void TextPane::appendLine(std::string line) {
  lines_.push_back(std::move(line));
  if (wrap_) rows_.push_back(0);
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
  rows_.clear();
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
  v->setRange(0, wrap_ ? bottomTopLine() : std::max(0, lineCount() - page));
  if (atBottom_) v->setValue(v->maximum());
  QScrollBar* h = horizontalScrollBar();
  const int width = viewport()->width();
  h->setPageStep(std::max(1, width));
  h->setRange(0, wrap_ ? 0 : std::max(0, maxWidth_ + 2 * kMargin - width));
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
    rowsWidth_ = -1;
    asciiAdvance_.clear();
    scheduleLayout();
    viewport()->update();
  }
}

void TextPane::paintEvent(QPaintEvent* event) {
  QPainter p(viewport());
  if (wrap_) {
    paintWrapped(p, event->rect());
    return;
  }
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
