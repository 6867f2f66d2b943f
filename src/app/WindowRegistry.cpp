#include "WindowRegistry.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <algorithm>

#include "Childwin.h"
#include "HeaderBar.h"
#include "Names.h"
#include "Text.h"
#include "WindowNames.h"

namespace {

using zorv::kCurrentWindow;
using zorv::kServerWindow;

std::string KeyOf(const std::string& name) { return zorv::upperAscii(name); }

std::string SectionKey(const std::string& text) { return zorv::upperAscii(zorv::LeftStr(text)); }

bool IsOpen(const TMDIChild* c) { return c && !c->IsClosing(); }

}  // namespace

WindowRegistry::WindowRegistry(QMdiArea* area, HeaderBar* bar, HeaderBar* scratch, ChildHost& host,
                               std::function<int()> clock)
    : area_(area), bar_(bar), scratch_(scratch), host_(host), clock_(std::move(clock)) {}

// ---------------------------------------------------------------------------
// Lookup

std::vector<TMDIChild*> WindowRegistry::Matching(const std::string& name) const {
  // The given name is compared whole (a name holding a blank never matches).
  std::vector<TMDIChild*> out;
  const auto it = byName_.find(KeyOf(name));
  if (it == byName_.end()) return out;
  for (TMDIChild* c : it->second)
    if (IsOpen(c)) out.push_back(c);
  return out;
}

std::vector<TMDIChild*> WindowRegistry::Children() const {
  std::vector<TMDIChild*> out;
  out.reserve(order_.size());
  for (const auto& [seq, c] : order_)
    if (IsOpen(c)) out.push_back(c);
  return out;
}

std::vector<TMDIChild*> WindowRegistry::ChannelWindows() const {
  std::vector<TMDIChild*> out;
  for (const auto& [seq, c] : channels_)
    if (IsOpen(c)) out.push_back(c);
  return out;
}

bool WindowRegistry::AnyOpen() const {
  // Windows leave the registry as they close, so this stops at the first.
  return std::any_of(order_.begin(), order_.end(), [](const auto& e) { return IsOpen(e.second); });
}

TMDIChild* WindowRegistry::ActiveChild() const {
  QMdiSubWindow* s = area_->currentSubWindow();
  if (!s) return nullptr;
  auto* c = qobject_cast<TMDIChild*>(s->widget());
  return IsOpen(c) ? c : nullptr;
}

void WindowRegistry::Remember(TMDIChild* child) {
  Entry e{KeyOf(child->WindowName()), nextSeq_++, zorv::isChannelName(child->WindowName())};
  order_[e.seq] = child;
  if (e.channel) channels_[e.seq] = child;
  byName_[e.key].push_back(child);
  entries_[child] = std::move(e);
}

void WindowRegistry::Forget(const TMDIChild* child) {
  const auto it = entries_.find(child);
  if (it == entries_.end()) return;
  const Entry& e = it->second;
  order_.erase(e.seq);
  channels_.erase(e.seq);
  if (auto n = byName_.find(e.key); n != byName_.end()) {
    auto& list = n->second;
    list.erase(std::remove(list.begin(), list.end(), child), list.end());
    if (list.empty()) byName_.erase(n);
  }
  entries_.erase(it);
}

void WindowRegistry::Retitle(TMDIChild* child, const std::string& caption) {
  child->SetCaption(caption);
  const auto it = entries_.find(child);
  if (it == entries_.end()) return;
  Entry& e = it->second;
  const std::string key = KeyOf(child->WindowName());
  const bool channel = zorv::isChannelName(child->WindowName());
  if (channel != e.channel) {
    if (channel)
      channels_[e.seq] = child;
    else
      channels_.erase(e.seq);
    e.channel = channel;
  }
  if (key == e.key) return;
  auto& old = byName_[e.key];
  old.erase(std::remove(old.begin(), old.end(), child), old.end());
  if (old.empty()) byName_.erase(e.key);
  // Windows of one name stay in creation order.
  auto& list = byName_[key];
  const auto at = std::find_if(list.begin(), list.end(),
                               [&](const TMDIChild* c) { return entries_[c].seq > e.seq; });
  list.insert(at, child);
  e.key = key;
}

// ---------------------------------------------------------------------------
// Output and creation

void WindowRegistry::AddText(const std::string& name, const std::string& text, bool create) {
  if (name == kCurrentWindow) {
    if (TMDIChild* c = ActiveChild()) {
      c->AddLine(text);
      return;
    }
    // With no conversation window open the line would be lost: it goes to the
    // Server window, which is opened for it.
    AddText(kServerWindow, text, true);
    return;
  }
  const std::string clean = zorv::stripLineBreaks(name);

  bool matched = false;
  for (TMDIChild* c : Matching(clean)) {
    c->AddLine(text);
    matched = true;
  }
  if (matched || !create) return;
  if (!MayOpenPrivate(clean, text)) return;

  TMDIChild* child = CreateChild(clean, true, PlacementForNetwork());
  // The tab comes before the first line, so that the unread mark that line
  // sets on a window opened behind shows on its tab too.
  AddSection(clean);
  child->AddLine(text);
}

bool WindowRegistry::MayOpenPrivate(const std::string& name, const std::string& text) {
  // Channels and the Server window open as they are asked for; a private window
  // is opened by someone else, and a wave of new senders must not bury the user
  // under windows: beyond the budget the message is shown in the Server window.
  if (zorv::isChannelName(name) || zorv::equalsIgnoreAsciiCase(name, kServerWindow)) return true;
  if (budget_.Take(clock_())) {
    holdingBack_ = false;
    return true;
  }
  if (!holdingBack_) {
    holdingBack_ = true;
    AddText(kServerWindow,
            "*** Too many new private windows at once: messages from new senders are shown here for now",
            true);
  }
  AddText(kServerWindow, "*** Private from " + name + ": " + text, true);
  return false;
}

WindowRegistry::Placement WindowRegistry::PlacementForNetwork() const {
  // A window the network opens takes neither the keyboard nor the screen: in
  // front only inside the active main window while the input line is empty.
  // The first window has nothing to stay behind: it becomes the frame's active
  // window (which activates no program window and moves no keyboard focus).
  if (!area_->currentSubWindow()) return Placement::Front;
  if (!area_->window()->isActiveWindow()) return Placement::Behind;
  const auto* edit = qobject_cast<const QLineEdit*>(QApplication::focusWidget());
  if (edit && area_->isAncestorOf(edit) && !edit->text().isEmpty()) return Placement::Behind;
  return Placement::Front;
}

void WindowRegistry::NewChild(const std::string& name) {
  const auto matches = Matching(name);
  for (TMDIChild* c : matches) BringToFront(c);
  if (!matches.empty()) return;
  CreateChild(name, false, Placement::Front);
  AddSection(name);
}

QRect WindowRegistry::NextChildGeometry() const {
  // New windows cascade from the top-left corner of the frame, each whole
  // inside it: a frame smaller than a window shrinks the window to fit, and a
  // window that would reach past the frame starts the cascade again at the corner.
  const int step = 22;
  QSize area = area_->viewport()->size();
  // The switcher bar appears with the first window and takes its height from
  // the frame's client area.
  if (bar_->isHidden()) area.setHeight(area.height() - bar_->sizeHint().height());
  QSize size(512, 315);
  if (area.width() > 0) size.setWidth(std::min(size.width(), area.width()));
  if (area.height() > 0) size.setHeight(std::min(size.height(), area.height()));
  const int roomX = area.width() - size.width();
  const int roomY = area.height() - size.height();
  const int fit = std::max(1, std::min(roomX, roomY) / step + 1);
  const int k = static_cast<int>(entries_.size() % static_cast<size_t>(fit));
  return {QPoint(k * step, k * step), size};
}

QMdiSubWindow* WindowRegistry::NewSubWindow(TMDIChild* child) {
  auto* sub = new QMdiSubWindow;
  sub->setWidget(child);
  sub->setAttribute(Qt::WA_DeleteOnClose);
  // Filled before it paints, the window hides what lies under it, so a repaint
  // does not draw the windows stacked below it.
  sub->setAutoFillBackground(true);
  // Every window "stays on top", so all are equal in the stacking order; the
  // frame then raises a window directly instead of first looking through all
  // windows for ones that stay on top (a walk over all windows for each one).
  // The menu entry that would let the user change it goes.
  sub->setWindowFlags(sub->windowFlags() | Qt::WindowStaysOnTopHint);
  const QRect geometry = NextChildGeometry();
  area_->addSubWindow(sub);
  // Placed after it joined the frame: the frame would move it to a free place
  // of its own, partly outside the client area.
  sub->setGeometry(geometry);
  for (QAction* a : sub->systemMenu()->actions())
    if (a->isCheckable()) sub->systemMenu()->removeAction(a);
  return sub;
}

TMDIChild* WindowRegistry::CreateChild(const std::string& name, bool channelMenu, Placement placement) {
  auto* child = new TMDIChild(host_);
  child->SetCaption(name);
  const bool channel = zorv::isChannelName(name);
  child->SetNickListVisible(channel);
  child->SetChannelMenu(channel && channelMenu);
  Remember(child);
  QObject::connect(child, &QObject::destroyed, &context_, [this, child] { Forget(child); });
  QMdiSubWindow* sub = NewSubWindow(child);
  if (placement == Placement::Behind) {
    ShowBehind(sub);
  } else {
    // The first window of a run opens maximized when they were so at the last
    // end; later ones follow the frame's own rule (an active maximized window
    // hands its state on).
    if (entries_.size() == 1 && FirstChildMaximized && FirstChildMaximized())
      sub->showMaximized();
    else
      sub->show();
    area_->setActiveSubWindow(sub);
  }
  return child;
}

void WindowRegistry::ShowBehind(QMdiSubWindow* sub) {
  // A window shown disabled is neither activated by the frame nor given the
  // keyboard focus; enabled again at once, it waits behind the active window.
  // (Not activating it also spares the frame its walk over every window.)
  QMdiSubWindow* front = area_->currentSubWindow();
  sub->setEnabled(false);
  sub->show();
  sub->setEnabled(true);
  if (front) sub->stackUnder(front);
}

void WindowRegistry::BringToFront(TMDIChild* child) {
  auto* sub = qobject_cast<QMdiSubWindow*>(child->parentWidget());
  if (!sub) return;
  if (sub->isMinimized()) sub->showNormal();
  sub->show();
  sub->raise();
  area_->setActiveSubWindow(sub);
}

void WindowRegistry::ChildFocus(const std::string& name) {
  for (TMDIChild* c : Matching(name)) BringToFront(c);
}

void WindowRegistry::CloseChild(const std::string& name) {
  for (TMDIChild* c : Matching(name)) c->CloseWindow();
}

// ---------------------------------------------------------------------------
// Captions and the switcher bar

void WindowRegistry::SetTopic(const std::string& name, const std::string& text, bool wholeCaption) {
  for (TMDIChild* c : Matching(name)) {
    const std::string caption = wholeCaption ? text : name + " - " + text;
    Retitle(c, caption);
    ForEachSection(name, [&](int i) { SetSectionText(i, caption); });
  }
}

void WindowRegistry::RenamePrivate(const std::string& oldNick, const std::string& newNick) {
  for (TMDIChild* c : Matching(oldNick))
    if (!zorv::isChannelName(c->WindowName())) Retitle(c, newNick);
  ForEachSection(oldNick, [&](int i) { SetSectionText(i, newNick); });
}

void WindowRegistry::AddSection(const std::string& text) {
  sectionsByName_[SectionKey(text)].push_back(bar_->count());
  bar_->addSection(text);
  bar_->show();
  EvenSectionWidths();
  MarkActiveSection();
}

void WindowRegistry::SetSectionText(int index, const std::string& text) {
  const std::string oldKey = SectionKey(bar_->sectionText(index));
  const std::string newKey = SectionKey(text);
  bar_->setSectionText(index, text);
  if (oldKey == newKey) return;
  auto& old = sectionsByName_[oldKey];
  old.erase(std::remove(old.begin(), old.end(), index), old.end());
  if (old.empty()) sectionsByName_.erase(oldKey);
  auto& now = sectionsByName_[newKey];
  now.insert(std::lower_bound(now.begin(), now.end(), index), index);
}

void WindowRegistry::ForEachSection(const std::string& name, const std::function<void(int)>& fn) {
  const auto it = sectionsByName_.find(KeyOf(name));
  if (it == sectionsByName_.end()) return;
  // fn may move a section to another name: walk a copy.
  const std::vector<int> indexes = it->second;
  for (int i : indexes) fn(i);
}

void WindowRegistry::RebuildSectionIndex() {
  sectionsByName_.clear();
  for (int i = 0; i < bar_->count(); ++i) sectionsByName_[SectionKey(bar_->sectionText(i))].push_back(i);
}

void WindowRegistry::RemoveSelectBar(const std::string& name) {
  // The window closing under this name leaves the registry now.
  if (const auto it = byName_.find(KeyOf(name)); it != byName_.end()) {
    const std::vector<TMDIChild*> named = it->second;
    for (TMDIChild* c : named)
      if (c && c->IsClosing()) Forget(c);
  }
  // The sections of other names are kept in their order and the bar is made
  // again from them, through the scratch bar.
  const std::string key = KeyOf(name);
  scratch_->clear();
  for (int i = 0; i < bar_->count(); ++i) {
    if (SectionKey(bar_->sectionText(i)) == key) continue;
    scratch_->addSection(bar_->sectionText(i));
    scratch_->setSectionMention(scratch_->count() - 1, bar_->sectionMention(i));
  }
  bar_->clear();
  for (int i = 0; i < scratch_->count(); ++i) {
    bar_->addSection(scratch_->sectionText(i));
    bar_->setSectionMention(i, scratch_->sectionMention(i));
  }
  scratch_->clear();
  RebuildSectionIndex();
  if (bar_->count() == 0) {
    bar_->hide();
    return;
  }
  EvenSectionWidths();
  MarkActiveSection();
}

void WindowRegistry::SectionClick(int index) {
  if (index < 0 || index >= bar_->count()) return;
  ChildFocus(zorv::LeftStr(bar_->sectionText(index)));
}

void WindowRegistry::EvenSectionWidths() {
  const int n = bar_->count();
  if (n == 0) return;
  bar_->setSectionWidths(bar_->width() / n);
}

void WindowRegistry::MarkActiveSection() {
  TMDIChild* active = ActiveChild();
  int index = -1;
  if (active) {
    const auto it = sectionsByName_.find(KeyOf(active->WindowName()));
    if (it != sectionsByName_.end() && !it->second.empty()) index = it->second.front();
  }
  bar_->setActiveSection(index);
}

void WindowRegistry::SetMention(const std::string& name, bool on) {
  ForEachSection(name, [&](int i) { bar_->setSectionMention(i, on); });
}
