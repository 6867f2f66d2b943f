#pragma once
// What the end-to-end tests read from and type into Zorv's windows.
#include <QAbstractItemModel>
#include <QLineEdit>
#include <QListView>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "Childwin.h"
#include "Main.h"
#include "Text.h"
#include "TextPane.h"

namespace e2e {

inline TMDIChild* window(TMainForm& form, const std::string& name) {
  for (TMDIChild* c : form.Children())
    if (zorv::equalsIgnoreAsciiCase(c->WindowName(), name)) return c;
  return nullptr;
}

inline std::vector<std::string> paneLines(const TMDIChild* c) {
  std::vector<std::string> out;
  for (int i = 0; c && i < c->textPane->lineCount(); ++i) out.push_back(c->textPane->line(i));
  return out;
}

// Lines of the window that contain part.
inline int countInWindow(TMainForm& form, const std::string& name, const std::string& part) {
  int n = 0;
  for (const auto& l : paneLines(window(form, name)))
    if (l.find(part) != std::string::npos) ++n;
  return n;
}

inline std::vector<std::string> nicks(TMainForm& form, const std::string& channel) {
  std::vector<std::string> out;
  TMDIChild* c = window(form, channel);
  if (!c) return out;
  auto* m = c->nickList->model();
  for (int i = 0; i < m->rowCount(); ++i) out.push_back(m->index(i, 0).data().toString().toStdString());
  return out;
}

inline bool listed(TMainForm& form, const std::string& channel, const std::string& entry) {
  for (const auto& n : nicks(form, channel))
    if (n == entry) return true;
  return false;
}

// Types a line into a window's input line and sends it.
inline void type(TMainForm& form, const std::string& name, const std::string& text) {
  TMDIChild* c = window(form, name);
  ASSERT_NE(c, nullptr) << name;
  c->inputLine->setText(QString::fromStdString(text));
  c->OnSendClicked();
}

}  // namespace e2e
