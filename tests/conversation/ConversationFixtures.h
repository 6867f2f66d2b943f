#pragma once
// A recording stand-in for the main window: it keeps the windows it made,
// finds them by name as the main window does, and applies SetTopic and
// CloseChild to them.
#include <QCoreApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "ChildHost.h"
#include "Childwin.h"
#include "Names.h"
#include "Text.h"

class RecordingHost : public ChildHost {
 public:
  using Lines = std::vector<std::string>;
  Lines sent, topics, removedBars, newChildren, focused;  // topics as "name|text|whole"
  Lines added;  // AddText calls as "name|text"
  int disconnects = 0;
  QString fontName = QStringLiteral("DejaVu Sans"), fontSize = QStringLiteral("8");
  bool wordWrap = true;
  int clock = 1000;  // advances by one on every reading
  int scrollback = 0;
  Lines logged;  // "window|text"
  Lines ircLinks;   // links clicked
  Lines attention;  // "window|mention" or "window|private"
  Lines channels;   // ChannelNames
  const TMDIChild* active = nullptr;
  std::vector<QPointer<TMDIChild>> children;

  void SendMsg(const std::string& line) override { sent.push_back(line); }
  bool IsConnected() const override { return true; }
  std::string OwnNick() const override { return "bob"; }
  void SetTopic(const std::string& name, const std::string& text, bool whole) override {
    topics.push_back(name + "|" + text + (whole ? "|1" : "|0"));
    for (TMDIChild* c : matching(name)) c->SetCaption(whole ? text : name + " - " + text);
  }
  void RemoveSelectBar(const std::string& name) override { removedBars.push_back(name); }
  void Disconnect() override { ++disconnects; }
  void CloseChild(const std::string& name) override {
    for (TMDIChild* c : matching(name)) c->CloseWindow();
  }
  void NewChild(const std::string& name) override { newChildren.push_back(name); }
  void ChildFocus(const std::string& name) override { focused.push_back(name); }
  void AddText(const std::string& name, const std::string& text, bool) override { added.push_back(name + "|" + text); }
  bool IsActiveChild(const TMDIChild* child) const override { return child == active; }
  QString ChatFontName() const override { return fontName; }
  QString ChatFontSize() const override { return fontSize; }
  bool ChatWordWrap() const override { return wordWrap; }
  int TimeOfDayMs() const override { return const_cast<RecordingHost*>(this)->clock++; }
  void LogLine(const std::string& window, const std::string& text) override { logged.push_back(window + "|" + text); }
  int ScrollbackLines() const override { return scrollback; }
  void OpenIrcLink(const std::string& link) override { ircLinks.push_back(link); }
  void NeedsAttention(const TMDIChild* child, bool mention) override {
    attention.push_back(child->WindowName() + (mention ? "|mention" : "|private"));
  }
  std::vector<std::string> ChannelNames() const override { return channels; }

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
    child->SetNickListVisible(zorv::isChannelName(caption));
    child->SetChannelMenu(zorv::isChannelName(caption));
    if (area) {
      QMdiSubWindow* sub = area->addSubWindow(child);
      sub->setAttribute(Qt::WA_DeleteOnClose);
      sub->show();
    }
    children.emplace_back(child);
    return child;
  }
};

// Windows made through a recording main window, freed after each test.
class WindowTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto& c : host.children) delete c.data();
    area.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  void type(TMDIChild* w, const QString& text) {
    w->inputLine->setText(text);
    QTest::keyClick(w->inputLine, Qt::Key_Return);
  }

  RecordingHost host;
  std::unique_ptr<QMdiArea> area;
};
