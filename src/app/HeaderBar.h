#pragma once
// The switcher bar along the bottom of the frame: one clickable section per
// conversation window, each holding a text (bytes) and a width in pixels.
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

  int count() const { return static_cast<int>(sections_.size()); }
  const Section& section(int i) const { return sections_[static_cast<size_t>(i)]; }
  void addSection(const std::string& text);
  void setSectionText(int i, const std::string& text);
  void setSectionWidth(int i, int width);
  void clear();
  // The section under a point of the bar, or -1.
  int sectionAt(int x) const;

  std::function<void(int index)> OnSectionClick;
  // Runs after the bar's width changed (the frame was resized or the bar shown).
  std::function<void()> OnResize;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  std::vector<Section> sections_;
  int hot_ = -1;
  int pressed_ = -1;
};
