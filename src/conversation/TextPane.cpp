#include "TextPane.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "Text.h"

namespace {

namespace fmt = zorv::fmt;

constexpr int kMargin = 2;     // pixels left of the text
constexpr int kFrameMs = 16;   // at most one repaint per frame for new lines
constexpr int kNoWrap = -2;    // the width a layout of one unwrapped row is made for
constexpr qreal kOneRow = 1e6;  // wider than any line
// Lines that keep what they paint; older ones work it out again when shown.
constexpr std::size_t kShownLines = 600;
constexpr std::uint32_t kMentionBackground = 0xF0DC8C;  // pale amber
constexpr std::uint32_t kLinkColor = 0x0000C0;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether bytes may hold a link or a channel name (found without looking for them).
bool mayHoldLink(const std::string& bytes) {
  if (bytes.find('#') != std::string::npos || bytes.find("://") != std::string::npos) return true;
  for (std::size_t at = bytes.find('.'); at != std::string::npos; at = bytes.find('.', at + 1))
    if (at >= 3 && lower(bytes[at - 1]) == 'w' && lower(bytes[at - 2]) == 'w' && lower(bytes[at - 3]) == 'w')
      return true;
  return false;
}

// For every byte offset of text, the offset into the QString toDisplay makes of it.
std::vector<int> displayOffsets(std::string_view text, bool utf8) {
  std::vector<int> at(text.size() + 1);
  int n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    at[i] = n;
    const auto c = static_cast<unsigned char>(text[i]);
    if (!utf8)
      ++n;
    else if ((c & 0xC0) != 0x80)
      n += c >= 0xF0 ? 2 : 1;  // four bytes make a surrogate pair
  }
  at[text.size()] = n;
  return at;
}

std::uint32_t rgbOf(const fmt::Color& c) { return c.kind == fmt::Color::Palette ? fmt::paletteRgb(c.value) : c.value; }

const QStringList& monospaceFamilies() {
  static const QStringList families{QFontDatabase::systemFont(QFontDatabase::FixedFont).family(),
                                    QStringLiteral("monospace")};
  return families;
}

// The character format of a run on a line whose background is lineBackground.
QTextCharFormat formatOf(const fmt::Style& style, std::uint32_t lineBackground) {
  QTextCharFormat f;
  if (style.bold) f.setFontWeight(QFont::Bold);
  if (style.italic) f.setFontItalic(true);
  if (style.underline) f.setFontUnderline(true);
  if (style.strike) f.setFontStrikeOut(true);
  if (style.mono) {
    f.setFontFamilies(monospaceFamilies());
    f.setFontFixedPitch(true);
  }
  bool coloured = style.fg.kind != fmt::Color::Default || style.bg.kind != fmt::Color::Default;
  std::uint32_t fg = style.fg.kind != fmt::Color::Default ? rgbOf(style.fg) : 0x000000;
  std::uint32_t bg = style.bg.kind != fmt::Color::Default ? rgbOf(style.bg) : lineBackground;
  if (style.reverse) {
    std::swap(fg, bg);
    coloured = true;
  }
  if (coloured) {
    if (bg != lineBackground) f.setBackground(QColor::fromRgb(bg));
    f.setForeground(QColor::fromRgb(fmt::readableOn(fg, bg)));
  }
  return f;
}

// Where a link leads: the text itself, "http://" added before "www.", a
// channel name up to a character no channel name holds.
std::string targetOf(const fmt::Span& span, std::string_view text) {
  std::string t(text.substr(span.begin, span.end - span.begin));
  if (span.kind == fmt::Span::Channel) {
    const std::size_t end = t.find_first_of(std::string_view(",\x07\0", 3));
    if (end != std::string::npos) t.resize(end);
  } else if (span.kind == fmt::Span::Web && t.size() > 4 && lower(t[0]) == 'w') {
    t.insert(0, "http://");
  }
  return t;
}

bool isWordBreak(QChar c) { return c.isSpace() || QStringView(u",;\"()<>").contains(c); }

}  // namespace

TextPane::TextPane(QWidget* parent) : QAbstractScrollArea(parent) {
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(wrap_ ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setMouseTracking(true);  // the pointer changes over links
  viewport()->setAutoFillBackground(true);
  QPalette pal = viewport()->palette();
  pal.setColor(QPalette::Base, QColor::fromRgb(fmt::kChatBackground));
  pal.setColor(QPalette::Window, QColor::fromRgb(fmt::kChatBackground));
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

TextPane::~TextPane() = default;

int TextPane::lineHeight() const { return std::max(1, fontMetrics().lineSpacing()); }

int TextPane::visibleLines() const { return std::max(1, viewport()->height() / lineHeight()); }

int TextPane::topLine() const { return verticalScrollBar()->value(); }

// --- what a line paints ---------------------------------------------------------

bool TextPane::isPlain(Entry& e) {
  if (e.kind == 0) e.kind = fmt::hasCodes(e.bytes) || mayHoldLink(e.bytes) ? 2 : 1;
  return e.kind == 1;
}

QString TextPane::stampOf(const Entry& e) const {
  if (!stamps_ || e.minute < 0) return {};
  return QString::asprintf("[%02d:%02d] ", e.minute / 60, e.minute % 60);
}

QString TextPane::shownText(int index) const {
  const Entry& e = lines_.at(static_cast<std::size_t>(index));
  if (e.shown) return e.shown->text;
  return stampOf(e) + zorv::toDisplay(fmt::strip(e.bytes));
}

TextPane::Shown& TextPane::shown(int index) {
  Entry& e = lines_[static_cast<std::size_t>(index)];
  if (e.shown) return *e.shown;
  auto s = std::make_unique<Shown>();
  const bool codes = fmt::hasCodes(e.bytes);
  fmt::Formatted parsed;
  if (codes) parsed = fmt::parse(e.bytes);
  const std::string& text = codes ? parsed.text : e.bytes;
  const QString stamp = stampOf(e);
  s->text = stamp + zorv::toDisplay(text);
  const std::vector<int> at = displayOffsets(text, zorv::isValidUtf8(text));
  const int base = static_cast<int>(stamp.size());
  const std::uint32_t background = e.mention ? kMentionBackground : fmt::kChatBackground;
  auto range = [&](std::size_t begin, std::size_t end, const QTextCharFormat& f) {
    s->formats.push_back({base + at[begin], at[end] - at[begin], f});
  };
  for (const fmt::Run& run : parsed.runs)
    if (!run.style.plain()) range(run.begin, run.end, formatOf(run.style, background));
  // Links after the runs: their colour and underline win over the run's.
  QTextCharFormat linkFormat;
  linkFormat.setForeground(QColor::fromRgb(fmt::readableOn(kLinkColor, background)));
  linkFormat.setFontUnderline(true);
  // Links are looked for in what was said, after the "<nick>" before it.
  const std::string_view speaker = fmt::speakerOf(text);
  const std::size_t said =
      speaker.empty() ? 0 : static_cast<std::size_t>(speaker.data() - text.data()) + speaker.size() + 1;
  const std::string_view saidText = std::string_view(text).substr(std::min(said, text.size()));
  for (fmt::Span span : fmt::findLinks(saidText)) {
    span.begin += text.size() - saidText.size();
    span.end += text.size() - saidText.size();
    range(span.begin, span.end, linkFormat);
    s->links.push_back({base + at[span.begin], base + at[span.end], Link{span.kind, targetOf(span, text)}});
  }
  e.shown = std::move(s);
  // Only the lines shown last keep theirs: a flood must not pile them up.
  shownSeqs_.push_back(firstSeq_ + static_cast<std::uint64_t>(index));
  if (shownSeqs_.size() > kShownLines) {
    const std::uint64_t seq = shownSeqs_.front();
    shownSeqs_.pop_front();
    if (seq >= firstSeq_ && seq - firstSeq_ < lines_.size() && seq != firstSeq_ + static_cast<std::uint64_t>(index))
      lines_[static_cast<std::size_t>(seq - firstSeq_)].shown.reset();
  }
  return *e.shown;
}

QTextLayout& TextPane::laidOut(int index) {
  Shown& s = shown(index);
  const int width = wrap_ ? rowsWidth_ : kNoWrap;
  if (s.layout && s.layoutWidth == width) return *s.layout;
  if (!s.layout) {
    s.layout = std::make_unique<QTextLayout>(s.text, font());
    s.layout->setFormats(s.formats);
    s.layout->setCacheEnabled(true);
  }
  QTextOption option;
  option.setWrapMode(wrap_ ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
  s.layout->setTextOption(option);
  const int lh = lineHeight();
  s.layout->beginLayout();
  int rows = 0;
  for (QTextLine row = s.layout->createLine(); row.isValid(); row = s.layout->createLine()) {
    row.setLineWidth(wrap_ ? width : kOneRow);
    row.setPosition(QPointF(0, rows * lh));
    ++rows;
  }
  s.layout->endLayout();
  s.layoutWidth = width;
  if (wrap_) ++wrapLayouts_;
  return *s.layout;
}

void TextPane::dropLayouts() {
  for (const std::uint64_t seq : shownSeqs_) {
    if (seq < firstSeq_ || seq - firstSeq_ >= lines_.size()) continue;
    if (Shown* s = lines_[static_cast<std::size_t>(seq - firstSeq_)].shown.get()) {
      s->layout.reset();
      s->layoutWidth = -1;
    }
  }
}

void TextPane::dropShown() {
  for (const std::uint64_t seq : shownSeqs_)
    if (seq >= firstSeq_ && seq - firstSeq_ < lines_.size())
      lines_[static_cast<std::size_t>(seq - firstSeq_)].shown.reset();
  shownSeqs_.clear();
}

// A line is drawn as it is, without a layout, when it is plain text with no
// time stamp shown and no part of it selected.
bool TextPane::drawnAsIs(int index) {
  Entry& e = lines_[static_cast<std::size_t>(index)];
  if (!isPlain(e) || (stamps_ && e.minute >= 0)) return false;
  return anchor_ == cursor_ || index < selectionFirst() || index > selectionLast();
}

QList<QTextLayout::FormatRange> TextPane::selectionIn(int index, int length) const {
  if (anchor_.line < 0 || anchor_ == cursor_) return {};
  const Pos a = std::min(anchor_, cursor_), b = std::max(anchor_, cursor_);
  if (index < a.line || index > b.line) return {};
  const int from = index == a.line ? a.offset : 0;
  const int to = index == b.line ? b.offset : length;
  if (to <= from) return {};
  QTextLayout::FormatRange r;
  r.start = from;
  r.length = to - from;
  r.format.setBackground(palette().color(QPalette::Highlight));
  r.format.setForeground(palette().color(QPalette::HighlightedText));
  return {r};
}

// Paints line index with the top left of its text at `at`; rows is the
// number of rows it takes.
void TextPane::paintLine(QPainter& p, int index, QPointF at, int rows) {
  Entry& e = lines_[static_cast<std::size_t>(index)];
  const int lh = lineHeight();
  if (e.mention)
    p.fillRect(QRectF(0, at.y(), viewport()->width(), rows * lh), QColor::fromRgb(kMentionBackground));
  p.setPen(Qt::black);
  if (drawnAsIs(index) && rows == 1) {
    const QString text = zorv::toDisplay(e.bytes);
    p.drawText(QPointF(at.x(), at.y() + fontMetrics().ascent()), text);
    // The horizontal range grows with the widest line shown so far: only
    // lines that are painted are measured, so a flood of lines costs no text
    // shaping beyond what is on screen. Lines too short to be wider than the
    // widest so far (even in the font's widest glyph) are not measured.
    if (!wrap_ && static_cast<long long>(e.bytes.size()) * std::max(1, fontMetrics().maxWidth()) > maxWidth_) {
      const int w = fontMetrics().horizontalAdvance(text);
      if (w > maxWidth_) {
        maxWidth_ = w;
        scheduleLayout();
      }
    }
    return;
  }
  QTextLayout& layout = laidOut(index);
  layout.draw(&p, at, selectionIn(index, static_cast<int>(e.shown->text.size())));
  if (!wrap_ && layout.lineCount() > 0) {
    const int w = static_cast<int>(layout.lineAt(0).naturalTextWidth()) + 1;
    if (w > maxWidth_) {
      maxWidth_ = w;
      scheduleLayout();
    }
  }
}

// --- word wrap ----------------------------------------------------------------

void TextPane::setWordWrap(bool on) {
  if (on == wrap_) return;
  wrap_ = on;
  for (Entry& e : lines_) e.rows = 0;
  dropLayouts();
  rowsWidth_ = -1;
  setHorizontalScrollBarPolicy(wrap_ ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
  flushLayout();
  viewport()->update();
}

void TextPane::setTimestamps(bool on) {
  if (on == stamps_) return;
  stamps_ = on;
  // Every line that carries a stamp now shows more or less text, so offsets
  // into it (the selection's) no longer hold.
  dropShown();
  anchor_ = cursor_ = Pos{};
  for (Entry& e : lines_) e.rows = 0;
  maxWidth_ = 0;
  scheduleLayout();
  viewport()->update();
}

int TextPane::wrapWidth() const { return std::max(1, viewport()->width() - 2 * kMargin); }

void TextPane::syncRows() {
  if (rowsWidth_ == wrapWidth()) return;
  rowsWidth_ = wrapWidth();
  for (Entry& e : lines_) e.rows = 0;
  dropLayouts();
}

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
  Entry& e = lines_.at(static_cast<std::size_t>(index));
  if (e.rows > 0) return e.rows;
  if (isPlain(e) && !(stamps_ && e.minute >= 0) && fitsOneRow(e.bytes))
    e.rows = 1;
  else
    e.rows = std::max(1, laidOut(index).lineCount());
  return e.rows;
}

// The top line of the view at the bottom: the first of the last lines that
// fit into the view whole (the last line alone when it is taller).
int TextPane::bottomTopLine() {
  const int page = visibleLines();
  int top = lineCount();
  for (int rows = 0; top > 0 && rows + rowsOf(top - 1) <= page; --top) rows += rowsOf(top - 1);
  return std::min(top, std::max(0, lineCount() - 1));
}

// --- lines ----------------------------------------------------------------------

void TextPane::appendLine(const QString& line) { appendLine(zorv::fromInput(line)); }

void TextPane::appendLine(std::string line, int minuteOfDay, bool mention) {
  Entry& e = lines_.emplace_back();
  e.bytes = std::move(line);
  e.minute = static_cast<std::int16_t>(minuteOfDay >= 0 && minuteOfDay < 24 * 60 ? minuteOfDay : -1);
  e.mention = mention;
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
  firstSeq_ += static_cast<std::uint64_t>(count);
  // The selection follows its lines; a selection whose lines are gone ends.
  if (anchor_.line >= 0) {
    anchor_.line -= count;
    cursor_.line -= count;
    if (anchor_.line < 0 && cursor_.line < 0) {
      anchor_ = cursor_ = Pos{};
    } else {
      if (anchor_.line < 0) anchor_ = Pos{0, 0};
      if (cursor_.line < 0) cursor_ = Pos{0, 0};
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
  firstSeq_ += lines_.size();
  lines_.clear();
  shownSeqs_.clear();
  maxWidth_ = 0;
  anchor_ = cursor_ = Pos{};
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
    dropShown();
    scheduleLayout();
    viewport()->update();
  }
}

void TextPane::paintEvent(QPaintEvent* event) {
  QPainter p(viewport());
  const QRect area = event->rect();
  const int lh = lineHeight();
  if (wrap_) {
    syncRows();
    int y = 0;
    for (int i = topLine(); i < lineCount() && y <= area.bottom(); ++i) {
      const int rows = rowsOf(i);
      if (y + rows * lh > area.top()) paintLine(p, i, QPointF(kMargin, y), rows);
      y += rows * lh;
    }
    return;
  }
  const int x = kMargin - horizontalScrollBar()->value();
  const int first = std::max(0, topLine() + area.top() / lh);
  const int last = std::min(lineCount() - 1, topLine() + area.bottom() / lh);
  for (int i = first; i <= last; ++i) {
    const int y = (i - topLine()) * lh;
    p.save();
    p.setClipRect(QRect(0, y, viewport()->width(), lh));  // a line never reaches into the next
    paintLine(p, i, QPointF(x, y), 1);
    p.restore();
  }
}

// --- positions and links -----------------------------------------------------------

// The line under a point of the viewport and the point relative to where the
// line's text starts; false below the last line.
bool TextPane::hit(QPoint point, int* index, QPointF* local) {
  if (lineCount() == 0 || point.y() < 0) return false;
  const int lh = lineHeight();
  if (!wrap_) {
    const int i = topLine() + point.y() / lh;
    if (i >= lineCount()) return false;
    *index = i;
    *local = QPointF(point.x() - kMargin + horizontalScrollBar()->value(), point.y() - (i - topLine()) * lh);
    return true;
  }
  int top = 0;
  for (int i = topLine(); i < lineCount(); ++i) {
    const int height = rowsOf(i) * lh;
    if (point.y() < top + height) {
      *index = i;
      *local = QPointF(point.x() - kMargin, point.y() - top);
      return true;
    }
    top += height;
  }
  return false;
}

TextPane::Pos TextPane::posAt(QPoint point) {
  if (lineCount() == 0) return {};
  if (point.y() < 0) return {std::max(0, topLine() - 1), 0};
  int index = 0;
  QPointF local;
  if (!hit(point, &index, &local)) return {lineCount() - 1, static_cast<int>(shownText(lineCount() - 1).size())};
  QTextLayout& layout = laidOut(index);
  if (layout.lineCount() == 0) return {index, 0};
  const int row = std::clamp(static_cast<int>(local.y()) / lineHeight(), 0, layout.lineCount() - 1);
  return {index, layout.lineAt(row).xToCursor(local.x())};
}

bool TextPane::selectionContains(QPoint point) {
  if (anchor_.line < 0 || anchor_ == cursor_) return false;
  const Pos at = posAt(point);
  return at >= std::min(anchor_, cursor_) && at < std::max(anchor_, cursor_);
}

bool TextPane::linkAt(QPoint point, Link* link) {
  int index = 0;
  QPointF local;
  if (!hit(point, &index, &local) || isPlain(lines_[static_cast<std::size_t>(index)])) return false;
  const Shown& s = shown(index);
  if (s.links.empty()) return false;
  QTextLayout& layout = laidOut(index);
  const int row = static_cast<int>(local.y()) / lineHeight();
  if (row < 0 || row >= layout.lineCount()) return false;
  const QTextLine line = layout.lineAt(row);
  if (local.x() < line.x() || local.x() >= line.x() + line.naturalTextWidth()) return false;
  const int offset = line.xToCursor(local.x(), QTextLine::CursorOnCharacter);
  for (const Shown::LinkRange& r : s.links) {
    if (offset >= r.begin && offset < r.end) {
      *link = r.link;
      return true;
    }
  }
  return false;
}

// --- selection ------------------------------------------------------------------------

int TextPane::selectionFirst() const { return anchor_.line < 0 ? -1 : std::min(anchor_, cursor_).line; }
int TextPane::selectionLast() const { return anchor_.line < 0 ? -1 : std::max(anchor_, cursor_).line; }

void TextPane::select(Pos anchor, Pos cursor) {
  if (lineCount() == 0 || anchor.line < 0 || cursor.line < 0) {
    clearSelection();
    return;
  }
  auto clamp = [this](Pos p) {
    p.line = std::clamp(p.line, 0, lineCount() - 1);
    p.offset = std::clamp(p.offset, 0, static_cast<int>(shownText(p.line).size()));
    return p;
  };
  anchor_ = clamp(anchor);
  cursor_ = clamp(cursor);
  viewport()->update();
}

void TextPane::selectLines(int first, int last) {
  if (lineCount() == 0 || first < 0) {
    clearSelection();
    return;
  }
  last = std::clamp(last, 0, lineCount() - 1);
  select({first, 0}, {last, static_cast<int>(shownText(last).size())});
}

void TextPane::selectAll() { selectLines(0, lineCount() - 1); }

void TextPane::scrollToLine(int index) {
  if (index < 0 || index >= lineCount()) return;
  flushLayout();
  const int top = topLine();
  if (index >= top) {
    // In view when its rows end within the pane's (wrapped lines take several).
    int rows = 0;
    for (int i = top; i <= index && rows <= visibleLines(); ++i) rows += rowsOf(i);
    if (rows <= visibleLines()) return;
  }
  verticalScrollBar()->setValue(std::max(0, index - visibleLines() / 2));
}

void TextPane::clearSelection() {
  anchor_ = cursor_ = Pos{};
  viewport()->update();
}

QString TextPane::selectedText() const {
  QString text;
  if (anchor_.line < 0 || anchor_ == cursor_) return text;
  const Pos a = std::min(anchor_, cursor_), b = std::max(anchor_, cursor_);
  for (int i = a.line; i <= b.line && i < lineCount(); ++i) {
    if (i > a.line) text += QLatin1Char('\n');
    const QString line = shownText(i);
    const qsizetype from = i == a.line ? a.offset : 0;
    const qsizetype to = i == b.line ? b.offset : line.size();
    text += line.mid(from, std::max<qsizetype>(0, to - from));
  }
  return text;
}

void TextPane::copy() const {
  const QString text = selectedText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void TextPane::selectWordAt(Pos pos) {
  if (pos.line < 0) return;
  const QString text = shownText(pos.line);
  int begin = std::min(pos.offset, static_cast<int>(text.size()));
  int end = begin;
  while (begin > 0 && !isWordBreak(text[begin - 1])) --begin;
  while (end < text.size() && !isWordBreak(text[end])) ++end;
  // Sentence marks after a word are not part of it.
  while (end > begin && QStringView(u".!?:'").contains(text[end - 1])) --end;
  select({pos.line, begin}, {pos.line, end});
}

// --- mouse and keys ----------------------------------------------------------------------

void TextPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || lineCount() == 0) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  const QPoint point = event->position().toPoint();
  const bool extend = (event->modifiers() & Qt::ShiftModifier) && anchor_.line >= 0;
  pressOnLink_ = !extend && linkAt(point, &pressedLink_);
  const Pos at = posAt(point);
  if (!extend) anchor_ = at;
  cursor_ = at;
  dragging_ = true;
  viewport()->update();
}

void TextPane::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (!(event->buttons() & Qt::LeftButton) || !dragging_ || anchor_.line < 0) {
    Link link;
    viewport()->setCursor(linkAt(point, &link) ? Qt::PointingHandCursor : Qt::IBeamCursor);
    return;
  }
  // Dragging past the top or bottom edge scrolls on.
  if (point.y() < 0) verticalScrollBar()->setValue(topLine() - 1);
  if (point.y() > viewport()->height()) verticalScrollBar()->setValue(topLine() + 1);
  cursor_ = posAt(point);
  if (cursor_ != anchor_) pressOnLink_ = false;  // a drag from a link selects
  viewport()->update();
}

void TextPane::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mouseReleaseEvent(event);
    return;
  }
  dragging_ = false;
  Link link;
  if (pressOnLink_ && anchor_ == cursor_ && linkAt(event->position().toPoint(), &link) &&
      link.target == pressedLink_.target) {
    pressOnLink_ = false;
    if (OnLink) OnLink(link);
    return;
  }
  pressOnLink_ = false;
  // Where the system has a selection clipboard, selected text goes there too.
  QClipboard* clipboard = QApplication::clipboard();
  const QString text = selectedText();
  if (clipboard->supportsSelection() && !text.isEmpty()) clipboard->setText(text, QClipboard::Selection);
}

void TextPane::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || lineCount() == 0) {
    QAbstractScrollArea::mouseDoubleClickEvent(event);
    return;
  }
  pressOnLink_ = false;
  dragging_ = false;
  selectWordAt(posAt(event->position().toPoint()));
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
