#pragma once
// The about box: product line, version, a short freeware notice and OK.
#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  QLabel* programIcon = nullptr;
  QLabel* productName = nullptr;
  QLabel* version = nullptr;
  QPlainTextEdit* comments = nullptr;
  QPushButton* okButton = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
};
