#pragma once
// The read-only text pane of a conversation window. Lines are kept as bytes,
// one string per line, and shown as UTF-8 when valid, else Latin-1. Only the
// visible lines are painted; appends are O(1) amortised and repaints and
// scroll bar updates are coalesced, so a flood of lines stays cheap.
//
// Formatting: bold, colours (made readable on their background), italic,
// underline, strike-through, monospace and reverse are painted and their
// codes hidden; links and channel names are drawn as links; a line that
// mentions the user is painted on a highlight. What a line paints (its text
// without codes, its formats, its links, its rows) is worked out when it is
// first painted and kept for a bounded number of lines, dropped when the
// width or the font changes. A line without codes or links is drawn as it
// is, without that work.
//
// Word wrap (on by default): a line longer than the pane is shown on as many
// rows as it needs. Rows are counted only for lines that are shown (and for
// the last screenful, to find the bottom), and kept per line until the width
// or the font changes, so an append never re-wraps other lines.
//
// Scrolling: the vertical scroll bar counts lines (the line at the top of the
// view). Without word wrap the horizontal one counts pixels; its range
// follows the widest line that has been shown.
// A view that was at the bottom follows new lines. The user selects text
// with the mouse character by character across lines (a double-click takes a
// word) and copies it, without codes, with Ctrl+C.
#include <QAbstractScrollArea>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Formatting.h"

class QPainter;

class TextPane : public QAbstractScrollArea {
  Q_OBJECT
 public:
  // A place in the text: a line and an offset into what it shows (time
  // stamp included), in QString units.
  struct Pos {
    int line = -1;
    int offset = 0;
    auto operator<=>(const Pos&) const = default;
  };

  explicit TextPane(QWidget* parent = nullptr);
  ~TextPane() override;

  void setWordWrap(bool on);
  bool wordWrap() const { return wrap_; }
  // Rows line index takes at the present width (1 without word wrap).
  int rowsOf(int index);
  // How many lines have been laid out for wrapping so far: the cost of word
  // wrap, which a flood must not make grow with every append.
  long long wrapLayouts() const { return wrapLayouts_; }

  // Whether the time stamps lines carry are shown ("[HH:MM] " before them).
  void setTimestamps(bool on);
  bool timestamps() const { return stamps_; }

  // Appends one line (bytes), with the minute of the day it arrived in (-1:
  // none) and whether it mentions the user. Emits changed().
  void appendLine(std::string line, int minuteOfDay = -1, bool mention = false);
  void appendLine(const QString& line);
  void appendLine(const char* line) { appendLine(std::string(line)); }
  int lineCount() const { return static_cast<int>(lines_.size()); }
  const std::string& line(int index) const { return lines_.at(static_cast<std::size_t>(index)).bytes; }
  // What the line shows: its time stamp when shown, then its text without codes.
  QString shownText(int index) const;
  bool isMention(int index) const { return lines_.at(static_cast<std::size_t>(index)).mention; }
  // Deletes the oldest line, or the oldest count lines at once. Emits changed() once.
  void deleteFirstLine();
  void deleteFirstLines(int count);
  void clear();

  // A bracket around changes made together: no repaint inside it.
  void beginUpdate();
  void endUpdate();

  // The selection runs between an anchor and a cursor. selectionFirst and
  // selectionLast are the lines it touches (-1: none).
  int selectionFirst() const;
  int selectionLast() const;
  void select(Pos anchor, Pos cursor);
  void selectLines(int first, int last);
  void selectAll();
  void clearSelection();
  // Where the selection begins and ends (line -1: none).
  Pos selectionStart() const { return std::min(anchor_, cursor_); }
  Pos selectionEnd() const { return std::max(anchor_, cursor_); }
  // Scrolls line index into view, about the middle; a line in view stays put.
  void scrollToLine(int index);
  QString selectedText() const;
  void copy() const;
  // The place nearest to a point of the viewport.
  Pos posAt(QPoint point);
  // Whether a point of the viewport lies on selected text.
  bool selectionContains(QPoint point);

  // A link or channel name under a point of the viewport; its target is the
  // text as bytes ("www." links gain "http://").
  struct Link {
    zorv::fmt::Span::Kind kind = zorv::fmt::Span::Web;
    std::string target;
  };
  bool linkAt(QPoint point, Link* link);
  // Runs when the user clicks a link.
  std::function<void(const Link&)> OnLink;

  // The first line shown at the top, and whether the view follows new lines.
  int topLine() const;
  bool followsBottom() const { return atBottom_; }
  // Applies pending scroll bar changes at once (normally done once per frame
  // interval, so that a burst of lines costs one update).
  void flushLayout();

 signals:
  void changed();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  // What a line paints, made on its first paint.
  struct Shown {
    QString text;
    QList<QTextLayout::FormatRange> formats;
    struct LinkRange {
      int begin = 0, end = 0;
      Link link;
    };
    std::vector<LinkRange> links;
    std::unique_ptr<QTextLayout> layout;
    int layoutWidth = -1;  // the width it is laid out for (kNoWrap: one row)
  };
  struct Entry {
    std::string bytes;
    std::unique_ptr<Shown> shown;
    int rows = 0;             // rows for word wrap at rowsWidth_ (0 = not counted)
    std::int16_t minute = -1;  // the minute of the day it arrived in, -1 none
    bool mention = false;
    std::uint8_t kind = 0;  // 0 not looked at yet, 1 plain text, 2 codes or links
  };

  int lineHeight() const;
  int visibleLines() const;
  int wrapWidth() const;
  bool fitsOneRow(const std::string& bytes);
  void syncRows();
  int bottomTopLine();
  bool isPlain(Entry& e);
  bool drawnAsIs(int index);
  QString stampOf(const Entry& e) const;
  Shown& shown(int index);
  QTextLayout& laidOut(int index);
  void dropShown();
  void dropLayouts();
  void paintLine(QPainter& p, int index, QPointF at, int rows);
  QList<QTextLayout::FormatRange> selectionIn(int index, int length) const;
  int offsetAt(int index, QTextLayout& layout, QPointF local, bool onCharacter);
  bool hit(QPoint point, int* index, QPointF* local);
  void selectWordAt(Pos pos);
  void scheduleLayout();
  void scheduleRepaint();
  void onFrame();

  std::deque<Entry> lines_;
  std::uint64_t firstSeq_ = 0;  // sequence number of lines_.front()
  // Lines holding what they paint, oldest first, by sequence number.
  std::deque<std::uint64_t> shownSeqs_;
  int rowsWidth_ = -1;  // the width the counted rows are for
  std::vector<int> asciiAdvance_;  // glyph advances of the printable ASCII characters
  bool wrap_ = true;
  bool stamps_ = false;
  long long wrapLayouts_ = 0;
  int maxWidth_ = 0;  // widest line painted so far, in pixels
  QTimer frameTimer_;
  bool layoutPending_ = false;
  bool repaintPending_ = false;
  bool atBottom_ = true;
  bool settingRange_ = false;
  int updateDepth_ = 0;
  Pos anchor_, cursor_;  // selection: where it started and where it ends now
  bool dragging_ = false;
  bool pressOnLink_ = false;  // a press on a link that has not become a drag
  Link pressedLink_;
};
