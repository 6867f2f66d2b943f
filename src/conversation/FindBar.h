#pragma once
// The find bar of a conversation window (Ctrl+F): a text to look for, Next
// and Previous, Escape closes it. It searches the text as the pane shows it
// (formatting codes left out), ignoring letter case; what it finds is
// selected and scrolled into view. At either end the search goes on from
// the other one.
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class TextPane;

class FindBar : public QWidget {
  Q_OBJECT
 public:
  FindBar(TextPane& pane, QWidget* parent);

  // Shows the bar with its text selected and the keyboard in it.
  void Open();
  // Looks for the text after (forward) or before the selection; without a
  // selection forward starts at the top of the view and backward at the end.
  // False (and "Not found" shown) when the text is nowhere.
  bool Find(bool forward);

  QLineEdit* findText = nullptr;
  QPushButton* nextButton = nullptr;
  QPushButton* previousButton = nullptr;
  QLabel* status = nullptr;

 signals:
  void closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Close();

  TextPane& pane_;
};
