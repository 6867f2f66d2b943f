// The word wrap switch in ZORV.INI reaches the text panes of the windows the
// main window opens, and is kept as it was read.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "Childwin.h"
#include "Main.h"
#include "Profile.h"
#include "TestSupport.h"
#include "TextPane.h"

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
  } cases[] = {
      {"", true, "1"},
      {"[Client Info]\nFont Size=9\n", true, "1"},
      {"[Client Info]\nWordWrap=1\n", true, "1"},
      {"[client info]\nwordwrap=0\n", false, "0"},
      {"[Client Info]\nWordWrap= 0 \n", false, "0"},
      {"[Client Info]\nWordWrap=no\n", false, "0"},
  };
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
      EXPECT_EQ(form.Children().front()->Memo1->wordWrap(), c.wrap) << c.file;
      form.close();
    }
    testsupport::pumpFor(10);
    // Saved, and the switch kept as it was read.
    const QByteArray saved = readAll(ini);
    EXPECT_TRUE(saved.contains("Font Name=")) << saved.toStdString();
    const std::string kept = zorv::readProfileString("Client Info", "WordWrap", "<missing>", ini).trimmed().toStdString();
    EXPECT_EQ(kept, c.saved) << saved.toStdString();
  }
}

}  // namespace
