// The word wrap switch in ZORV.INI reaches the text panes of the windows the
// main window opens, and is never written back.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "Childwin.h"
#include "Main.h"
#include "TestSupport.h"
#include "TextPane.h"

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

TEST(WordWrapSetting, ClientInfoWordWrapTurnsWrapOffOnlyWhenZero) {
  const struct {
    const char* file;  // "" = no settings file
    bool wrap;
  } cases[] = {
      {"", true},
      {"[Client Info]\nFont Size=9\n", true},
      {"[Client Info]\nWordWrap=1\n", true},
      {"[client info]\nwordwrap=0\n", false},
      {"[Client Info]\nWordWrap= 0 \n", false},
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
    // What is saved is what was saved before: the switch is only read.
    const QByteArray saved = readAll(ini);
    EXPECT_TRUE(saved.contains("Font Name=")) << saved.toStdString();
    EXPECT_EQ(saved.toLower().count("wordwrap"), QByteArray(c.file).toLower().count("wordwrap")) << c.file;
  }
}

}  // namespace
