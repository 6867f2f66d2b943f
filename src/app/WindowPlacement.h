#pragma once
// Where the main window was and how it was shown, kept between runs in the
// settings file (section "Window"): the frame's normal geometry, whether it
// was maximized, and whether the conversation windows were maximized inside it.
// The values are properties of this object so that the settings component
// reads and writes them like those of any control.
#include <QObject>
#include <QRect>
#include <QStringList>

class QMainWindow;
class QMdiArea;

class WindowPlacement : public QObject {
  Q_OBJECT
  Q_PROPERTY(int Left MEMBER left)
  Q_PROPERTY(int Top MEMBER top)
  Q_PROPERTY(int Width MEMBER width)
  Q_PROPERTY(int Height MEMBER height)
  Q_PROPERTY(bool Maximized MEMBER maximized)
  Q_PROPERTY(bool ChildMaximized MEMBER childMaximized)

 public:
  explicit WindowPlacement(QObject* parent);

  // The settings component's item lines for the properties above.
  static QStringList settingsItems();

  // Gives the frame the saved place inside the screen's available area (the
  // first place when none was saved), and the saved maximized state.
  void applyTo(QMainWindow& frame) const;
  // Takes the frame's current place and state, before they are saved.
  void takeFrom(const QMainWindow& frame, const QMdiArea& area);
  // Whether a conversation window opening in an empty frame opens maximized.
  bool firstChildMaximized() const { return childMaximized; }

  int left = 0;
  int top = 0;
  int width = 0;  // 0: nothing saved yet
  int height = 0;
  bool maximized = false;
  bool childMaximized = false;
};

namespace zorv {

// A saved rectangle moved (and shrunk if need be) so that it lies inside the
// available area; a screen set-up that changed since must not leave the
// window out of reach.
QRect fitInside(const QRect& saved, const QRect& available);

// The frame's place on a first start: two thirds of the available area,
// centred, grown to the frame's minimum size where the screen allows.
QRect firstPlace(const QRect& available, const QSize& minimum);

}  // namespace zorv
