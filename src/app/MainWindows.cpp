// The main window's Window menu: the list of open windows, and cascading,
// tiling, arranging and minimising them.
#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>

#include "Childwin.h"
#include "Formatting.h"
#include "Main.h"
#include "Text.h"

void TMainForm::RebuildWindowList() {
  for (QAction* a : windowListActions_) {
    windowMenu->removeAction(a);
    a->deleteLater();
  }
  windowListActions_.clear();
  const auto children = Children();
  if (children.empty()) return;
  windowListActions_.push_back(windowMenu->addSeparator());
  TMDIChild* active = ActiveChild();
  int n = 1;
  for (TMDIChild* c : children) {
    QString label = zorv::toDisplay(zorv::fmt::strip(c->Caption()));
    label.replace('&', "&&");
    if (n <= 9) label = QString("&%1 %2").arg(n).arg(label);
    QAction* a = windowMenu->addAction(label);
    a->setCheckable(true);
    a->setChecked(c == active);
    QPointer<TMDIChild> target(c);
    connect(a, &QAction::triggered, this, [this, target] {
      if (target && !target->IsClosing()) ChildFocus(target->WindowName());
    });
    windowListActions_.push_back(a);
    ++n;
  }
}

void TMainForm::OnCascadeClicked() { windowArea->cascadeSubWindows(); }

void TMainForm::OnTileClicked() {
  // One above another, each as wide as the frame.
  std::vector<QMdiSubWindow*> subs;
  for (TMDIChild* c : Children())
    if (auto* s = qobject_cast<QMdiSubWindow*>(c->parentWidget()); s && !s->isMinimized()) subs.push_back(s);
  if (subs.empty()) return;
  const QSize area = windowArea->viewport()->size();
  const int h = area.height() / static_cast<int>(subs.size());
  int y = 0;
  for (QMdiSubWindow* s : subs) {
    if (s->isMaximized()) s->showNormal();
    s->setGeometry(0, y, area.width(), h);
    y += h;
  }
}

void TMainForm::OnArrangeIconsClicked() {
  // Minimised windows line up along the bottom of the frame.
  const QSize area = windowArea->viewport()->size();
  int x = 0;
  int row = 0;
  for (TMDIChild* c : Children()) {
    auto* s = qobject_cast<QMdiSubWindow*>(c->parentWidget());
    if (!s || !s->isMinimized()) continue;
    const QSize sz = s->size();
    if (x > 0 && x + sz.width() > area.width()) {
      x = 0;
      ++row;
    }
    s->move(x, area.height() - (row + 1) * sz.height());
    x += sz.width();
  }
}

void TMainForm::OnMinimizeAllClicked() {
  const auto children = Children();
  for (auto it = children.rbegin(); it != children.rend(); ++it)
    if (auto* s = qobject_cast<QMdiSubWindow*>((*it)->parentWidget())) s->showMinimized();
}
