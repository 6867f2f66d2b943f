#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMetaEnum>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "IniOut.h"
#include "Profile.h"
#include "SettingsProbe.h"
#include "TestSupport.h"

namespace {

QByteArray readBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A window with a probe, a second object for references, and the component.
struct Fixture {
  QTemporaryDir dir;
  ProbeWindow window;
  Probe* probe;
  QObject* other;
  TIniOut* ini;

  Fixture() {
    window.setObjectName("MainForm");
    probe = new Probe(&window);
    probe->setObjectName("Probe1");
    other = new QObject(&window);
    other->setObjectName("Other");
    ini = new TIniOut(&window);
    ini->setFileName(dir.filePath("test.ini"));
  }
  QString path() const { return dir.filePath("TEST.INI"); }
  QMetaProperty prop(const char* name) const { return TIniOut::FindProperty(probe, name); }
  QString text(const char* name) const { return ini->PropertyToText(probe, prop(name)); }
};

const char* const kAllProperties[] = {"Count", "Color",  "Cursor", "Letter", "Alignment", "Active", "Ratio",
                                      "Text",  "Style",  "Peer",   "Font",   "OnClick",   "Lines"};

TEST(IniOut, SaveWritesEveryKindAsTextAndLoadBringsItBack) {
  Fixture fx;
  Probe& p = *fx.probe;
  p.count = -42;
  p.color = TColor(0x800000);
  p.cursor = TCursor(Qt::IBeamCursor);
  p.letter = u'Z';
  p.alignment = Probe::alCenter;
  p.active = true;
  p.ratio = 0.1;
  p.text = "hello; world";
  p.style = Probe::Bold | Probe::Underline;
  p.peer = fx.other;
  p.font->name = "Courier New";
  p.font->size = 12;
  p.font->bold = true;
  p.handler = TMethod{&fx.window, fx.window.metaObject()->indexOfMethod("HandleClick()")};
  p.lines = {"one", "two", "three"};
  QStringList items;
  for (const char* name : kAllProperties) items << QString("probe1;%1;;Probe;%1;1;0").arg(QString(name).toLower());
  fx.ini->setItems(items);
  ASSERT_TRUE(fx.ini->SaveProperties()) << fx.ini->LastError().toStdString();

  const char* expected[] = {"-42",   "darkRed",          "IBeamCursor", "Z",           "alCenter", "1",
                            "0.1",   "hello; world",     "[Bold,Underline]", "Other", "Courier New|12|1",
                            "HandleClick", "one|two|three"};
  for (size_t i = 0; i < std::size(kAllProperties); ++i)
    EXPECT_EQ(zorv::readProfileString("Probe", kAllProperties[i], "<none>", fx.path()), expected[i])
        << kAllProperties[i];

  Probe fresh(&fx.window);
  delete fx.probe;
  fresh.setObjectName("Probe1");
  fx.probe = &fresh;
  ASSERT_TRUE(fx.ini->LoadProperties());
  EXPECT_EQ(fresh.count, -42);
  EXPECT_EQ(fresh.color, TColor(0x800000));
  EXPECT_EQ(fresh.cursor, TCursor(Qt::IBeamCursor));
  EXPECT_EQ(fresh.letter, u'Z');
  EXPECT_EQ(fresh.alignment, Probe::alCenter);
  EXPECT_TRUE(fresh.active);
  EXPECT_EQ(fresh.ratio, 0.1);
  EXPECT_EQ(fresh.text, "hello; world");
  EXPECT_EQ(fresh.style, Probe::Bold | Probe::Underline);
  EXPECT_EQ(fresh.peer, fx.other);
  EXPECT_EQ(fresh.font->name, "Courier New");
  EXPECT_EQ(fresh.font->size, 12);
  EXPECT_TRUE(fresh.font->bold);
  EXPECT_EQ(fresh.lines, (QStringList{"one", "two", "three"}));
  ASSERT_TRUE(fresh.handler.isBound());
  EXPECT_TRUE(fresh.handler.invoke());
  EXPECT_EQ(fx.window.clicks, 1);
}

// What one text does to one property: the property's text afterwards. Every
// property starts from the same known state.
TEST(IniOut, TextToPropertyRules) {
  struct Case {
    const char* property;
    const char* text;
    const char* after;
  } cases[] = {
      // Boolean: true when the text begins with 1 T Y t y; empty leaves it (it starts true).
      {"Active", "0", "0"}, {"Active", "yes", "1"}, {"Active", "Y", "1"}, {"Active", "true", "1"},
      {"Active", "T", "1"}, {"Active", "1", "1"},   {"Active", "no", "0"}, {"Active", "False", "0"},
      {"Active", " 1", "0"}, {"Active", "", "1"},
      // integer
      {"Count", "17", "17"}, {"Count", "-5", "-5"}, {"Count", "$1F", "31"}, {"Count", "0x10", "16"},
      {"Count", "abc", "7"}, {"Count", "", "7"}, {"Count", "99999999999", "7"},
      // colours and cursors by name (any case) or number
      {"Color", "RED", "red"}, {"Color", "darkyellow", "darkYellow"}, {"Color", "256", "256"}, {"Color", "255", "blue"},
      {"Color", "nocolor", "blue"}, {"Cursor", "waitcursor", "WaitCursor"}, {"Cursor", "2", "CrossCursor"},
      {"Cursor", "4242", "4242"}, {"Cursor", "bogus", "PointingHandCursor"},
      // character, enumeration, float, string
      {"Letter", "xyz", "x"}, {"Letter", "", "q"}, {"Alignment", "alright", "alRight"},
      {"Alignment", "nope", "alCenter"}, {"Ratio", "2.5", "2.5"}, {"Ratio", "1e-3", "0.001"},
      {"Ratio", "x", "3"}, {"Text", "", ""}, {"Text", " kept as is ", " kept as is "},
      // set: whole names only, in any order, unknown names ignored
      {"Style", "[Bold,Italic]", "[Bold,Italic]"}, {"Style", "[BoldItalic]", "[BoldItalic]"},
      {"Style", "[ underline , bold ]", "[Bold,Underline]"}, {"Style", "[]", "[]"},
      {"Style", "[Bold,Nope]", "[Bold]"},
      // class: a name of the window's objects, else the owned object's fields
      {"Peer", "other", "Other"}, {"Peer", "missing", "Probe1"}, {"Peer", "", "Probe1"},
      {"Font", "Arial|10", "Arial|10|1"}, {"Font", "Other", "Other|8|1"},
      // method: a method of the window by name, else unchanged
      {"OnClick", "otherhandler", "OtherHandler"}, {"OnClick", "NoSuchMethod", "HandleClick"},
      {"OnClick", "", "HandleClick"}, {"OnClick", "deleteLater", "deleteLater"},
      {"OnClick", "destroyed", "HandleClick"},  // a signal is no handler
      // string list
      {"Lines", "a|b", "a|b"}, {"Lines", "a|", "a"}, {"Lines", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.property) + " <- \"" + c.text + "\"");
    Fixture fx;
    Probe& p = *fx.probe;
    p.active = true;
    p.count = 7;
    p.color = TColor(0x0000ff);
    p.cursor = TCursor(Qt::PointingHandCursor);
    p.letter = u'q';
    p.alignment = Probe::alCenter;
    p.ratio = 3;
    p.text = "start";
    p.peer = fx.probe;
    p.font->name = "Font";
    p.font->bold = true;
    p.handler = TMethod{&fx.window, fx.window.metaObject()->indexOfMethod("HandleClick()")};
    fx.ini->TextToProperty(fx.probe, fx.prop(c.property), c.text);
    EXPECT_EQ(fx.text(c.property), c.after);
  }
}

TEST(IniOut, PropertyToTextOfOddValues) {
  Fixture fx;
  Probe& p = *fx.probe;
  const std::pair<std::function<void()>, std::pair<const char*, const char*>> cases[] = {
      {[&] { p.alignment = static_cast<Probe::Align>(99); }, {"Alignment", "alLeft"}},  // lowest name
      {[&] { p.style = {}; }, {"Style", "[]"}},
      {[&] { p.peer = nullptr; }, {"Peer", ""}},
      {[&] { p.handler = TMethod{}; }, {"OnClick", ""}},
      {[&] { p.color = TColor(0x123456); }, {"Color", "1193046"}},
      {[&] { p.cursor = TCursor(-3); }, {"Cursor", "-3"}},
      {[&] { p.ratio = 1.0 / 3; }, {"Ratio", "0.3333333333333333"}},
  };
  for (const auto& [set, expect] : cases) {
    set();
    EXPECT_EQ(fx.text(expect.first), expect.second) << expect.first;
  }
  // All of an object's own properties; the list stops the other way at the first object.
  p.font->name = "Serif";
  EXPECT_EQ(fx.ini->PropertyToText(p.font), "Serif|8|0");
  EXPECT_TRUE(fx.ini->PropertyToText(&p).startsWith("0|1193046|-3|a|alLeft|0|0.3333333333333333||[]||Serif|8|0|"));
}

TEST(IniOut, ColourNamesAreQtsGlobalColours) {
  Fixture fx;
  const QMetaEnum colours = QMetaEnum::fromType<Qt::GlobalColor>();
  int named = 0;
  for (int i = 0; i < colours.keyCount(); ++i) {
    const QString name = colours.key(i);
    if (name == "color0" || name == "color1" || name == "transparent") continue;
    const QColor c(static_cast<Qt::GlobalColor>(colours.value(i)));
    fx.probe->color = TColor(c.rgb() & 0xffffff);
    EXPECT_EQ(fx.text("Color"), name);
    fx.probe->color = TColor(0);
    fx.ini->TextToProperty(fx.probe, fx.prop("Color"), name);
    EXPECT_EQ(int(fx.probe->color), int(c.rgb() & 0xffffff)) << name.toStdString();
    ++named;
  }
  EXPECT_EQ(named, 17);
}

TEST(IniOut, ItemsSkipUnknownsBlanksAndLoadOnlyEntries) {
  Fixture fx;
  QFile f(fx.path());
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("[S]\nText=from file\nCount=5\nKeep=old\n");
  f.close();
  fx.ini->setItems({
      ";;;;;;",                              // only separators
      "  ;  ; x ;  ;  ",                     // blank fields, a default only
      "NoSuchControl;Text;d;S;Text",         // unknown control
      "Probe1;NoSuchProperty;d;S;Text",      // unknown property
      "PROBE1;text;dflt;s;TEXT",             // names in any case
      "Probe1;Count;9;S;Count;;1",           // loaded, never saved
      "Probe1;Alignment;alRight;S;Missing",  // default from the item
      "mainform;objectName;Renamed;S;Name",  // the window itself
  });
  ASSERT_TRUE(fx.ini->LoadProperties());
  EXPECT_EQ(fx.probe->text, "from file");
  EXPECT_EQ(fx.probe->count, 5);
  EXPECT_EQ(fx.probe->alignment, Probe::alRight);
  EXPECT_EQ(fx.window.objectName(), "Renamed");
  fx.window.setObjectName("MainForm");

  fx.probe->text = "changed";
  fx.probe->count = 6;
  ASSERT_TRUE(fx.ini->SaveProperties());
  EXPECT_EQ(readBytes(fx.path()), "[S]\nText=changed\nCount=5\nKeep=old\nMissing=alRight\nName=MainForm\n");
}

TEST(IniOut, FileNameRule) {
  const std::pair<const char*, const char*> cases[] = {
      {"/x/y/Zorv.ini", "/x/y/ZORV.INI"},
      {"/x/y/zorv", "/x/y/ZORV.INI"},
      {"/x/Dir.d/zorv.cfg.bak", "/x/Dir.d/ZORV.CFG.INI"},
      {"Zorv.INI", "ZORV.INI"},
      {"rel/ünï.txt", "rel/üNï.INI"},
      {"", ""},
  };
  TIniOut ini;
  for (const auto& [given, stored] : cases) {
    ini.setFileName(QString::fromUtf8(given));
    EXPECT_EQ(ini.FileName(), QString::fromUtf8(stored)) << given;
  }
  EXPECT_EQ(ini.RegistryRoot(), TIniOut::CURRENT_USER);
}

TEST(IniOut, FieldsAndTrim) {
  const QString text = "a;b;;d";
  const char* fields[] = {"a", "b", "", "d", "", ""};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(TIniOut::GetField(text, i, u';'), fields[i]) << i;
  EXPECT_EQ(TIniOut::GetField(" x\t; \x01y ", 1, u';'), "y");
  EXPECT_EQ(TIniOut::GetField("x", -1, u';'), "");
  EXPECT_EQ(TIniOut::Trim(QString("\x01\x1f \t") + QChar(0)), "");
  EXPECT_EQ(TIniOut::Trim(" \x7f mid dle \n"), "\x7f mid dle");
}

TEST(IniOut, EmptyFileNameShowsTheMessageAndTouchesNothing) {
  Fixture fx;
  fx.ini->setFileName("");
  fx.ini->setItems({"Probe1;Text;default;S;Text"});
  testsupport::shownMessages().clear();
  fx.probe->text = "unchanged";
  fx.ini->LoadProperties();
  EXPECT_FALSE(fx.ini->SaveProperties());
  EXPECT_EQ(fx.probe->text, "unchanged");
  EXPECT_EQ(testsupport::shownMessages(), QStringList(2, "No INI Filename Specified."));
  EXPECT_TRUE(fx.ini->LastError().isEmpty());  // already told
  EXPECT_TRUE(QDir(fx.dir.path()).isEmpty());
}

TEST(IniOut, SaveReportsAnUnwritablePlaceAndKeepsGoingPerItem) {
  Fixture fx;
  QFile(fx.dir.filePath("file")).open(QIODevice::WriteOnly);
  fx.ini->setFileName(fx.dir.filePath("file/zorv.ini"));
  fx.ini->setItems({"Probe1;Text;d;S;Text"});
  EXPECT_FALSE(fx.ini->SaveProperties());
  EXPECT_EQ(fx.ini->LastError(), "Cannot save settings to " + fx.dir.filePath("file/ZORV.INI") + ": Not a directory");

  // A value that cannot be one line is reported; the other items are saved.
  fx.ini->setFileName(fx.dir.filePath("test.ini"));
  fx.ini->setItems({"Probe1;Text;d;S;Text", "Probe1;Count;d;S;Count"});
  fx.probe->text = "two\nlines";
  fx.probe->count = 3;
  EXPECT_FALSE(fx.ini->SaveProperties());
  EXPECT_TRUE(fx.ini->LastError().contains("Probe1.Text")) << fx.ini->LastError().toStdString();
  EXPECT_EQ(readBytes(fx.path()), "[S]\nCount=3\n");
}

TEST(IniOut, DamagedFileGivesWhatCanBeRead) {
  Fixture fx;
  QFile f(fx.path());
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray("\x00\xff\xfe[[[\n===\n[S]\nCount=12junk\nText=", 33) + QByteArray(1 << 20, 't') +
          "\nActive\n");
  f.close();
  fx.ini->setItems({"Probe1;Count;4;S;Count", "Probe1;Text;d;S;Text", "Probe1;Active;yes;S;Active"});
  fx.probe->count = 1;
  ASSERT_TRUE(fx.ini->LoadProperties());
  EXPECT_EQ(fx.probe->count, 1);  // not a number: unchanged
  EXPECT_EQ(fx.probe->text, QString(1023, 't'));
  EXPECT_TRUE(fx.probe->active);  // no "=": the default

  // A directory in place of the file cannot be read: defaults, and an error.
  fx.ini->setFileName(fx.dir.filePath("sub/x.ini"));
  ASSERT_TRUE(QDir(fx.dir.path()).mkpath("sub/X.INI"));
  fx.probe->text.clear();
  EXPECT_FALSE(fx.ini->LoadProperties());
  EXPECT_EQ(fx.probe->text, "d");
  EXPECT_TRUE(fx.ini->LastError().startsWith("Cannot read settings from ")) << fx.ini->LastError().toStdString();
}

TEST(MainSettings, DefaultsFirstThenWhatWasSaved) {
  QTemporaryDir dir;
  auto makeWindow = [] {
    auto* w = new QWidget;
    w->setObjectName("MainForm");
    for (const char* name : {"EditNick", "EditServer", "EditPort"}) (new QLineEdit(w))->setObjectName(name);
    for (const char* name : {"LabelFont", "LabelSize"}) (new QLabel(w))->setObjectName(name);
    return w;
  };
  std::unique_ptr<QWidget> w(makeWindow());
  auto* ini = new TIniOut(w.get());
  zorv::ConfigureMainSettings(*ini, dir.path() + "/");
  EXPECT_EQ(ini->FileName(), dir.filePath("ZORV.INI"));
  ASSERT_TRUE(ini->LoadProperties());
  auto text = [&](const char* name) { return w->findChild<QObject*>(name)->property("text").toString(); };
  EXPECT_EQ(text("EditNick"), "YourNick");
  EXPECT_EQ(text("EditServer"), zorv::kDefaultServer);
  EXPECT_EQ(text("EditPort"), "6667");
  EXPECT_EQ(text("LabelFont"), "MS Sans Serif");
  EXPECT_EQ(text("LabelSize"), "8");

  w->findChild<QLineEdit*>("EditNick")->setText("Zed");
  w->findChild<QLabel*>("LabelSize")->setText("10");
  ASSERT_TRUE(ini->SaveProperties()) << ini->LastError().toStdString();
  EXPECT_EQ(readBytes(dir.filePath("ZORV.INI")),
            QByteArray("[User Info]\nNick=Zed\nServer=") + zorv::kDefaultServer +
                "\nPort=6667\n\n[Client Info]\nFont Name=MS Sans Serif\nFont Size=10\n");

  std::unique_ptr<QWidget> again(makeWindow());
  TIniOut* ini2 = new TIniOut(again.get());
  zorv::ConfigureMainSettings(*ini2, dir.path());
  ASSERT_TRUE(ini2->LoadProperties());
  EXPECT_EQ(again->findChild<QLineEdit*>("EditNick")->text(), "Zed");
  EXPECT_EQ(again->findChild<QLabel*>("LabelSize")->text(), "10");
}

}  // namespace
