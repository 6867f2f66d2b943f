// The word wrap and time stamp switches in ZORV.INI reach the text panes of
// the windows the main window opens, and are kept as they were read; the main
// window's side of mentions and of irc:// links clicked in the text.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include <QAction>
#include <QCheckBox>
#include <QRegularExpression>

#include "AppFixture.h"
#include "MessageBox.h"
#include "Names.h"
#include "Profile.h"

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

TEST(WordWrapSetting, ClientInfoWordWrapTurnsWrapOff) {
  const struct {
    const char* file;  // "" = no settings file
    bool wrap;
    const char* saved;  // the switch in the file afterwards
    bool stamps = false;
  } cases[] = {
      {"", true, "1"},
      {"[Client Info]\nFont Size=9\n", true, "1"},
      {"[Client Info]\nWordWrap=1\n", true, "1"},
      {"[client info]\nwordwrap=0\n", false, "0"},
      {"[Client Info]\nWordWrap= 0 \n", false, "0"},
      {"[Client Info]\nWordWrap=no\n", false, "0"},
      {"[Client Info]\nTimestamps=1\n", true, "1", true},
  };
  const QRegularExpression stamped("^\\[\\d\\d:\\d\\d\\] x$");
  for (const auto& c : cases) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = dir.filePath("ZORV.INI");
    if (*c.file) {
      QFile f(ini);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(c.file);
    }
    {
      TMainForm form(dir.path());
      form.AddText("#a", "x", true);
      ASSERT_EQ(form.Children().size(), 1u);
      TextPane* pane = form.Children().front()->textPane;
      EXPECT_EQ(pane->wordWrap(), c.wrap) << c.file;
      EXPECT_EQ(form.timestampsItem->isChecked(), c.stamps) << c.file;
      EXPECT_EQ(stamped.match(pane->shownText(0)).hasMatch(), c.stamps) << c.file;
      // The menu item turns stamps on and off for lines that arrive from then on.
      form.timestampsItem->trigger();
      form.AddText("#a", "x", true);
      EXPECT_EQ(stamped.match(pane->shownText(1)).hasMatch(), !c.stamps) << c.file;
      EXPECT_EQ(pane->shownText(0), "x") << c.file;  // not stamped when it came, or stamps now hidden
      form.close();
    }
    testsupport::pumpFor(10);
    // Saved, and the switch kept as it was read.
    const QByteArray saved = readAll(ini);
    EXPECT_TRUE(saved.contains("Font Name=")) << saved.toStdString();
    const std::string kept = zorv::readProfileString("Client Info", "WordWrap", "<missing>", ini).trimmed().toStdString();
    EXPECT_EQ(kept, c.saved) << saved.toStdString();
    EXPECT_EQ(zorv::readProfileString("Client Info", "Timestamps", "", ini).trimmed(), c.stamps ? "0" : "1");
  }
}

class MainFormText : public apptest::AppTest {
 protected:
  int section(const std::string& name) const {
    for (int i = 0; i < form->tabBar->count(); ++i)
      if (zorv::equalsIgnoreAsciiCase(zorv::LeftStr(form->tabBar->sectionText(i)), name)) return i;
    return -1;
  }
};

// A line from someone else naming the user marks its window's tab in colour
// (the caption keeps only the unread "*") until the window is seen.
TEST_F(MainFormText, AMentionMarksTheTabUntilTheWindowIsSeen) {
  form->nickField->setText("bob");
  const struct {
    const char* window;
    const char* line;
    bool mention;
  } cases[] = {
      {"#a", "<ann>hi BOB!", true},         {"#b", "<ann>hi bobby", false},
      {"#c", "<bob>bob here", false},       {"#d", "*** bob has joined #d", false},
      {"#e", "* ann pokes \x02" "bob\x02", true},
  };
  for (const auto& c : cases) form->AddText(c.window, "opened", true);
  form->AddText("#front", "opened", true);
  form->ChildFocus("#front");
  for (const auto& c : cases) form->AddText(c.window, c.line, false);
  for (const auto& c : cases) {
    const int i = section(c.window);
    ASSERT_GE(i, 0) << c.window;
    EXPECT_EQ(form->tabBar->sectionMention(i), c.mention) << c.window;
    EXPECT_EQ(form->tabBar->sectionText(i), std::string("*") + c.window) << c.window;
    EXPECT_EQ(apptest::window(*form, c.window)->textPane->isMention(1), c.mention) << c.window;
  }
  form->ChildFocus("#a");
  EXPECT_FALSE(form->tabBar->sectionMention(section("#a")));
  EXPECT_TRUE(form->tabBar->sectionMention(section("#e")));
  form->CloseChild("#b");  // the bar is made again: the other marks stay
  EXPECT_TRUE(form->tabBar->sectionMention(section("#e")));
}

// An irc:// link clicked in the text joins on the server and port of the
// connection; a link elsewhere asks first, and connects there only on yes.
TEST_F(MainFormText, AnIrcLinkJoinsHereAndAsksBeforeConnectingElsewhere) {
  QStringList asked;
  bool answer = false;
  const zorv::QuestionAsker before = zorv::setQuestionAsker([&](const QString& text, const QString&) {
    asked << text;
    return answer;
  });
  testsupport::LoopbackServer server;
  connectTo(server);
  server.clearReceived();
  form->OpenIrcLink("irc://127.0.0.1:" + std::to_string(server.port()) + "/zorv,#b");
  EXPECT_TRUE(server.waitReceived("JOIN #zorv\r\nJOIN #b\r\n"));
  EXPECT_TRUE(asked.isEmpty());
  const int other = testsupport::unusedPort();
  const std::string elsewhere = "ircs://127.0.0.1:" + std::to_string(other) + "/#c";
  for (const bool yes : {false, true}) {
    answer = yes;
    form->OpenIrcLink(elsewhere);
    EXPECT_EQ(asked.size(), yes ? 2 : 1);
    EXPECT_EQ(asked.last(), QString("Disconnect from 127.0.0.1 and connect to 127.0.0.1:%1?").arg(other));
    EXPECT_EQ(form->portField->text().toInt(), yes ? other : server.port());
  }
  EXPECT_TRUE(server.waitPeerClosed());
  EXPECT_TRUE(form->tlsBox->isChecked());
  zorv::setQuestionAsker(before);
}

}  // namespace
