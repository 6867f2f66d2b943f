#pragma once
// The read-only text pane of a conversation window. Lines are kept as bytes,
// one string per line, and shown as UTF-8 when valid, else Latin-1. Only the
// visible lines are painted; appends are O(1) amortised and repaints and
// scroll bar updates are coalesced, so a flood of lines stays cheap.
//
// Word wrap (on by default): a line longer than the pane is shown on as many
// rows as it needs. Rows are counted only for lines that are shown (and for
// the last screenful, to find the bottom), and kept per line until the width
// or the font changes, so an append never re-wraps other lines.
//
// Scrolling: the vertical scroll bar counts lines (the line at the top of the
// view). Without word wrap the horizontal one counts pixels; its range
// follows the widest line that has been shown.
// A view that was at the bottom follows new lines. The user selects whole
// lines with the mouse (drag, shift-click) and copies them with Ctrl+C.
#include <QAbstractScrollArea>
#include <QTimer>
#include <deque>
#include <string>
#include <vector>

class QPainter;

class TextPane : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit TextPane(QWidget* parent = nullptr);

  void setWordWrap(bool on);
  bool wordWrap() const { return wrap_; }
  // Rows line index takes at the present width (1 without word wrap).
  int rowsOf(int index);
  // How many lines have been laid out for wrapping so far: the cost of word
  // wrap, which a flood must not make grow with every append.
  long long wrapLayouts() const { return wrapLayouts_; }

  // Appends one line (bytes). Emits changed().
  void appendLine(std::string line);
  void appendLine(const QString& line);
  void appendLine(const char* line) { appendLine(std::string(line)); }
  int lineCount() const { return static_cast<int>(lines_.size()); }
  const std::string& line(int index) const { return lines_.at(static_cast<std::size_t>(index)); }
  // Deletes the oldest line, or the oldest count lines at once. Emits changed() once.
  void deleteFirstLine();
  void deleteFirstLines(int count);
  void clear();

  // A bracket around changes made together: no repaint inside it.
  void beginUpdate();
  void endUpdate();

  // Selected lines, as [first, last]; none when first < 0.
  int selectionFirst() const;
  int selectionLast() const;
  void selectLines(int first, int last);
  void selectAll();
  void clearSelection();
  QString selectedText() const;
  void copy() const;

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
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  int lineHeight() const;
  int visibleLines() const;
  int lineAt(int y);
  int wrapWidth() const;
  bool fitsOneRow(const std::string& bytes);
  void syncRows();
  int bottomTopLine();
  void paintWrapped(QPainter& p, const QRect& area);
  void scheduleLayout();
  void scheduleRepaint();
  void onFrame();

  std::deque<std::string> lines_;
  // Rows per line for word wrap (0 = not counted yet), aligned with lines_ at
  // the back: lines are appended at the back and deleted at the front, so
  // surplus entries at the front belong to deleted lines.
  std::deque<int> rows_;
  int rowsWidth_ = -1;  // the width the counted rows are for
  std::vector<int> asciiAdvance_;  // glyph advances of the printable ASCII characters
  bool wrap_ = true;
  long long wrapLayouts_ = 0;
  int maxWidth_ = 0;  // widest line painted so far, in pixels
  QTimer frameTimer_;
  bool layoutPending_ = false;
  bool repaintPending_ = false;
  bool atBottom_ = true;
  bool settingRange_ = false;
  int updateDepth_ = 0;
  int anchor_ = -1;  // selection: the line where it started
  int cursor_ = -1;  // and where it ends now
};
