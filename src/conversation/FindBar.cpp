#include "FindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "Guard.h"
#include "TextPane.h"

FindBar::FindBar(TextPane& pane, QWidget* parent) : QWidget(parent), pane_(pane) {
  setObjectName(QStringLiteral("FindBar"));
  findText = new QLineEdit(this);
  findText->setObjectName(QStringLiteral("FindText"));
  findText->setPlaceholderText(QStringLiteral("Find"));
  findText->installEventFilter(this);
  nextButton = new QPushButton(QStringLiteral("&Next"), this);
  nextButton->setObjectName(QStringLiteral("FindNext"));
  previousButton = new QPushButton(QStringLiteral("&Previous"), this);
  previousButton->setObjectName(QStringLiteral("FindPrevious"));
  auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
  closeButton->setObjectName(QStringLiteral("FindClose"));
  status = new QLabel(this);
  status->setObjectName(QStringLiteral("FindStatus"));
  for (QPushButton* b : {nextButton, previousButton, closeButton}) b->setFocusPolicy(Qt::NoFocus);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(2, 2, 2, 2);
  row->addWidget(findText, 1);
  row->addWidget(nextButton);
  row->addWidget(previousButton);
  row->addWidget(status);
  row->addWidget(closeButton);
  connect(nextButton, &QPushButton::clicked, this, [this] { zorv::guarded([this] { Find(true); }); });
  connect(previousButton, &QPushButton::clicked, this, [this] { zorv::guarded([this] { Find(false); }); });
  connect(closeButton, &QPushButton::clicked, this, [this] { Close(); });
  connect(findText, &QLineEdit::textEdited, status, &QLabel::clear);
  hide();
}

void FindBar::Open() {
  show();
  findText->selectAll();
  findText->setFocus(Qt::ShortcutFocusReason);
}

void FindBar::Close() {
  hide();
  status->clear();
  emit closed();
}

bool FindBar::Find(bool forward) {
  const QString needle = findText->text();
  status->clear();
  const int count = pane_.lineCount();
  if (needle.isEmpty() || count == 0) return false;
  const TextPane::Pos start = pane_.selectionStart();
  const bool selected = start.line >= 0 && start.line < count;
  // Where the search starts: just after the selection's start going forward
  // (so the next match is not the one selected), at it going back.
  TextPane::Pos from;
  if (selected)
    from = forward ? TextPane::Pos{start.line, start.offset + 1} : start;
  else
    from = forward ? TextPane::Pos{pane_.topLine(), 0} : TextPane::Pos{count - 1, -1};
  // Each line once, the starting one twice (its other part, at the end).
  for (int step = 0; step <= count; ++step) {
    const int line = ((forward ? from.line + step : from.line - step) % count + count) % count;
    const QString text = pane_.shownText(line);
    qsizetype at = -1;
    if (forward) {
      const qsizetype first = step == 0 ? from.offset : 0;
      at = first > text.size() ? -1 : text.indexOf(needle, first, Qt::CaseInsensitive);
      if (step == count && at >= from.offset) at = -1;
    } else {
      // lastIndexOf from a position finds a match starting at or before it.
      const qsizetype last = step == 0 ? (from.offset < 0 ? text.size() : from.offset - 1) : text.size();
      at = last < 0 ? -1 : text.lastIndexOf(needle, last, Qt::CaseInsensitive);
      if (step == count && from.offset >= 0 && at < from.offset) at = -1;
    }
    if (at >= 0) {
      pane_.select({line, static_cast<int>(at)}, {line, static_cast<int>(at + needle.size())});
      pane_.scrollToLine(line);
      return true;
    }
  }
  pane_.clearSelection();
  status->setText(QStringLiteral("Not found"));
  return false;
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == findText && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
      Close();
      return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      const bool back = key->modifiers() & Qt::ShiftModifier;
      zorv::guarded([&] { Find(!back); });
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
