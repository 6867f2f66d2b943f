#pragma once
// A recording stand-in for the main window, for the conversation window tests.
// It keeps the windows it made, finds them by name as the main window does,
// and applies SetTopic and CloseChild to them.
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "ChildHost.h"
#include "Childwin.h"
#include "Names.h"
#include "Text.h"

class RecordingHost : public ChildHost {
 public:
  std::vector<std::string> sent;
  std::vector<std::tuple<std::string, std::string, bool>> topics;
  std::vector<std::string> removedBars, newChildren, closeChildCalls;
  int disconnects = 0;
  QString fontName = QStringLiteral("DejaVu Sans");
  QString fontSize = QStringLiteral("8");
  int clock = 1000;  // advances by one on every reading
  std::string nick = "bob";
  const TMDIChild* active = nullptr;
  std::vector<QPointer<TMDIChild>> children;

  void SendMsg(const std::string& line) override { sent.push_back(line); }
  std::string OwnNick() const override { return nick; }
  void SetTopic(const std::string& name, const std::string& text, bool whole) override {
    topics.emplace_back(name, text, whole);
    for (TMDIChild* c : matching(name)) c->SetCaption(whole ? text : name + " - " + text);
  }
  void RemoveSelectBar(const std::string& name) override { removedBars.push_back(name); }
  void BtnDisConnectClick() override { ++disconnects; }
  void CloseChild(const std::string& name) override {
    closeChildCalls.push_back(name);
    for (TMDIChild* c : matching(name)) c->CloseWindow();
  }
  void NewChild(const std::string& name) override { newChildren.push_back(name); }
  bool IsActiveChild(const TMDIChild* child) const override { return child == active; }
  QString ChatFontName() const override { return fontName; }
  QString ChatFontSize() const override { return fontSize; }
  int TimeOfDayMs() const override { return const_cast<RecordingHost*>(this)->clock++; }

  std::vector<TMDIChild*> matching(const std::string& name) const {
    std::vector<TMDIChild*> out;
    for (const auto& c : children)
      if (c && !c->IsClosing() && zorv::equalsIgnoreAsciiCase(zorv::LeftStr(c->Caption()), name)) out.push_back(c);
    return out;
  }

  // A window as the main window makes one: caption, nick list and menu by kind.
  TMDIChild* make(const std::string& caption, QMdiArea* area = nullptr) {
    auto* child = new TMDIChild(*this);
    child->SetCaption(caption);
    const bool channel = zorv::isChannelName(caption);
    child->SetNickListVisible(channel);
    child->SetChannelMenu(channel);
    if (area) {
      QMdiSubWindow* sub = area->addSubWindow(child);
      sub->setAttribute(Qt::WA_DeleteOnClose);
      sub->show();
    }
    children.emplace_back(child);
    return child;
  }
};
