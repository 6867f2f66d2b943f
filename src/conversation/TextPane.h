#pragma once
// The read-only text pane of a conversation window. Lines are kept as bytes,
// one string per line, and shown as UTF-8 when valid, else Latin-1. Only the
// visible lines are painted; appends are O(1) amortised and repaints and
// scroll bar updates are coalesced, so a flood of lines stays cheap.
//
// Scrolling: the vertical scroll bar counts lines, the horizontal one pixels;
// its range follows the widest line that has been shown.
// A view that was at the bottom follows new lines. The user selects whole
// lines with the mouse (drag, shift-click) and copies them with Ctrl+C.
#include <QAbstractScrollArea>
#include <QTimer>
#include <deque>
#include <string>

class TextPane : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit TextPane(QWidget* parent = nullptr);

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
  int lineAt(int y) const;
  void scheduleLayout();
  void scheduleRepaint();
  void onFrame();

  std::deque<std::string> lines_;
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
