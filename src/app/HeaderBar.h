#pragma once
// The switcher bar along the bottom of the frame: one clickable section per
// conversation window, each holding a text (bytes). All sections share one
// width (the bar evens them out), so adding a section or resizing the bar costs
// the same however many sections there are.
#include <QColor>
#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class HeaderBar : public QWidget {
  Q_OBJECT
 public:
  struct Section {
    std::string text;
    int width = 0;
  };

  explicit HeaderBar(QWidget* parent = nullptr);

  int count() const { return static_cast<int>(texts_.size()); }
  Section section(int i) const { return {texts_[static_cast<size_t>(i)], width_}; }
  const std::string& sectionText(int i) const { return texts_[static_cast<size_t>(i)]; }
  void addSection(const std::string& text);
  void setSectionText(int i, const std::string& text);
  // Every section gets this width in pixels.
  void setSectionWidths(int width);
  int sectionWidth() const { return width_; }
  void clear();
  // The section under a point of the bar, or -1.
  int sectionAt(int x) const;

  // The section drawn as the active one (-1: none).
  void setActiveSection(int i);
  int activeSection() const { return active_; }

  // A section whose window holds an unread mention of the user is drawn in
  // the mention colour.
  void setSectionMention(int i, bool on);
  bool sectionMention(int i) const;
  // The colour of a mentioned section's text.
  static QColor mentionColor();

  // What the tooltip says over point x: the whole text of a section too narrow
  // to show it, otherwise the bar's own tooltip.
  QString toolTipAt(int x) const;
  // Whether a section's text is cut off at the current width.
  bool isElided(int i) const;

  std::function<void(int index)> OnSectionClick;
  // Runs after the bar's width changed (the frame was resized or the bar shown).
  std::function<void()> OnResize;

  QSize sizeHint() const override;

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  std::vector<std::string> texts_;
  std::vector<bool> mentions_;  // aligned with texts_
  int width_ = 0;
  int hot_ = -1;
  int pressed_ = -1;
  int active_ = -1;
};
