#pragma once
// Reading what Zorv's conversation windows show and typing into them, for the
// tests that run the real main window.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QLineEdit>
#include <QListView>
#include <algorithm>
#include <string>
#include <vector>

#include "Childwin.h"
#include "Main.h"
#include "Session.h"
#include "Text.h"
#include "TextPane.h"

namespace testsupport {

inline TMDIChild* window(TMainForm& form, const std::string& name) {
  for (TMDIChild* c : form.Children())
    if (zorv::equalsIgnoreAsciiCase(c->WindowName(), name)) return c;
  return nullptr;
}

inline std::vector<std::string> linesOf(TMainForm& form, const std::string& name) {
  std::vector<std::string> out;
  const TMDIChild* c = window(form, name);
  for (int i = 0; c && i < c->textPane->lineCount(); ++i) out.push_back(c->textPane->line(i));
  return out;
}

inline bool hasLine(TMainForm& form, const std::string& name, const std::string& line) {
  const auto lines = linesOf(form, name);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Lines of the window that contain part.
inline int countInWindow(TMainForm& form, const std::string& name, const std::string& part) {
  int n = 0;
  for (const auto& l : linesOf(form, name)) n += l.find(part) != std::string::npos;
  return n;
}

// Whether the channel's nick list shows the entry (with its mark).
// The entries of a channel's nick list, as shown.
inline std::vector<std::string> nicks(TMainForm& form, const std::string& channel) {
  std::vector<std::string> out;
  if (TMDIChild* c = window(form, channel))
    for (int i = 0; i < c->nickList->model()->rowCount(); ++i)
      out.push_back(c->nickList->model()->index(i, 0).data().toString().toStdString());
  return out;
}

inline bool listed(TMainForm& form, const std::string& channel, const std::string& entry) {
  const std::vector<std::string> all = nicks(form, channel);
  return std::find(all.begin(), all.end(), entry) != all.end();
}

// Types a line into a window's input line and sends it.
inline void type(TMainForm& form, const std::string& name, const std::string& text) {
  TMDIChild* c = window(form, name);
  ASSERT_NE(c, nullptr) << name;
  c->inputLine->setText(QString::fromStdString(text));
  c->OnSendClicked();
}

}  // namespace testsupport
