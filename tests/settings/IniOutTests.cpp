#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMetaEnum>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "IniOut.h"
#include "Profile.h"
#include "SettingsProbe.h"
#include "TestSupport.h"

namespace {

// A window with a probe, another object to refer to, and the component.
struct Fixture {
  QTemporaryDir dir;
  ProbeWindow window;
  Probe* probe = new Probe(&window);
  QObject* other = new QObject(&window);
  TIniOut* ini = new TIniOut(&window);

  Fixture() {
    window.setObjectName("MainForm");
    probe->setObjectName("Probe1");
    other->setObjectName("Other");
    ini->setFileName(dir.filePath("test.ini"));
    probe->handler = TMethod{&window, window.metaObject()->indexOfMethod("HandleClick()")};
  }
  QString path() const { return dir.filePath("TEST.INI"); }
  QMetaProperty prop(const char* name) const { return TIniOut::FindProperty(probe, name); }
  QString text(const char* name) const { return ini->PropertyToText(probe, prop(name)); }
};

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
  p.lines = {"one", "two", "three"};
  const std::pair<const char*, const char*> expected[] = {
      {"Count", "-42"},       {"Color", "darkRed"},    {"Cursor", "IBeamCursor"}, {"Letter", "Z"},
      {"Alignment", "alCenter"}, {"Active", "1"},      {"Ratio", "0.1"},          {"Text", "hello; world"},
      {"Style", "[Bold,Underline]"}, {"Peer", "Other"}, {"Font", "Courier New|12|1"},
      {"OnClick", "HandleClick"}, {"Lines", "one|two|three"}};
  QStringList items;
  for (const auto& e : expected) items << QString("probe1;%1;;Probe;%1;1;0").arg(QString(e.first).toLower());
  fx.ini->setItems(items);
  ASSERT_TRUE(fx.ini->SaveProperties()) << fx.ini->LastError().toStdString();
  for (const auto& [key, text] : expected) EXPECT_EQ(zorv::readProfileString("Probe", key, "", fx.path()), text);

  delete fx.probe;
  Probe fresh(&fx.window);
  fresh.setObjectName("Probe1");
  fx.probe = &fresh;
  ASSERT_TRUE(fx.ini->LoadProperties());
  for (const auto& [key, text] : expected) EXPECT_EQ(fx.text(key), text) << key;
  EXPECT_EQ(fresh.peer, fx.other);
  EXPECT_TRUE(fresh.handler.invoke());
  EXPECT_EQ(fx.window.clicks, 1);
}

// What one text does to one property, seen as the property's text afterwards.
// Every case starts from the same state.
TEST(IniOut, TextToPropertyRules) {
  const char* cases[][3] = {
      // Boolean: true when the text begins with 1 T Y t y; empty leaves it (it starts true)
      {"Active", "0", "0"}, {"Active", "yes", "1"}, {"Active", "Y", "1"}, {"Active", "true", "1"},
      {"Active", "T", "1"}, {"Active", "no", "0"},  {"Active", "False", "0"}, {"Active", " 1", "0"},
      {"Active", "", "1"},
      // integers, colours and cursors by name in any case, or by number
      {"Count", "-5", "-5"}, {"Count", "$1F", "31"}, {"Count", "0x10", "16"}, {"Count", "abc", "7"},
      {"Count", "", "7"}, {"Count", "99999999999", "7"}, {"Color", "RED", "red"}, {"Color", "256", "256"},
      {"Color", "255", "blue"}, {"Color", "nocolor", "blue"}, {"Cursor", "waitcursor", "WaitCursor"},
      {"Cursor", "2", "CrossCursor"}, {"Cursor", "4242", "4242"}, {"Cursor", "bogus", "PointingHandCursor"},
      // character, enumeration, float, string, string list
      {"Letter", "xyz", "x"}, {"Letter", "", "q"}, {"Alignment", "alright", "alRight"},
      {"Alignment", "nope", "alCenter"}, {"Ratio", "1e-3", "0.001"}, {"Ratio", "x", "3"},
      {"Text", "", ""}, {"Text", " as is ", " as is "}, {"Lines", "a|b", "a|b"}, {"Lines", "a|", "a"},
      // set: whole names only, any order and case, unknown names ignored
      {"Style", "[BoldItalic]", "[BoldItalic]"}, {"Style", "[ underline , bold ]", "[Bold,Underline]"},
      {"Style", "[]", "[]"}, {"Style", "[Bold,Nope]", "[Bold]"},
      // class: an object of the window by name, else the fields of an owned object
      {"Peer", "other", "Other"}, {"Peer", "missing", "Probe1"}, {"Peer", "", "Probe1"},
      {"Font", "Arial|10", "Arial|10|1"}, {"Font", "Other", "Other|8|1"},
      // method: a slot or invokable of the window by name, else unchanged
      {"OnClick", "otherhandler", "OtherHandler"}, {"OnClick", "NoSuchMethod", "HandleClick"},
      {"OnClick", "", "HandleClick"}, {"OnClick", "destroyed", "HandleClick"},
  };
  for (const auto& c : cases) {
    Fixture fx;
    Probe& p = *fx.probe;
    p.active = true;
    p.count = 7;
    p.color = TColor(0x0000ff);
    p.cursor = TCursor(Qt::PointingHandCursor);
    p.letter = u'q';
    p.alignment = Probe::alCenter;
    p.ratio = 3;
    p.peer = fx.probe;
    p.font->bold = true;
    fx.ini->TextToProperty(fx.probe, fx.prop(c[0]), c[1]);
    EXPECT_EQ(fx.text(c[0]), c[2]) << c[0] << " <- \"" << c[1] << "\"";
  }
}

TEST(IniOut, PropertyToTextOfOddValuesAndWholeObjects) {
  Fixture fx;
  Probe& p = *fx.probe;
  p.alignment = static_cast<Probe::Align>(99);  // out of range: the lowest value's name
  p.color = TColor(0x123456);                   // no name
  p.cursor = TCursor(-3);
  p.ratio = 1.0 / 3;
  p.handler = TMethod{};
  p.font->name = "Serif";
  EXPECT_EQ(fx.ini->PropertyToText(p.font), "Serif|8|0");
  EXPECT_EQ(fx.ini->PropertyToText(&p), "0|1193046|-3|a|alLeft|0|0.3333333333333333||[]||Serif|8|0||");
  // Set from a whole text: the fields in order, up to the first object property.
  fx.ini->TextToProperty(&p, QMetaProperty(), "5|red|2|b|alRight|y|2.5|t|[Italic]|Other|ignored");
  EXPECT_EQ(fx.ini->PropertyToText(&p), "5|red|CrossCursor|b|alRight|1|2.5|t|[Italic]||Serif|8|0||");
}

TEST(IniOut, ColourNamesAreQtsGlobalColours) {
  Fixture fx;
  const QMetaEnum colours = QMetaEnum::fromType<Qt::GlobalColor>();
  int named = 0;
  for (int i = 0; i < colours.keyCount(); ++i) {
    const QString name = colours.key(i);
    if (name == "color0" || name == "color1" || name == "transparent") continue;
    const int rgb = int(QColor(Qt::GlobalColor(colours.value(i))).rgb() & 0xffffff);
    fx.probe->color = TColor(rgb);
    EXPECT_EQ(fx.text("Color"), name);
    fx.ini->TextToProperty(fx.probe, fx.prop("Color"), "0");
    fx.ini->TextToProperty(fx.probe, fx.prop("Color"), name);
    EXPECT_EQ(int(fx.probe->color), rgb) << name.toStdString();
    ++named;
  }
  EXPECT_EQ(named, 17);
}

TEST(IniOut, ItemsSkipUnknownsBlanksAndLoadOnlyEntries) {
  Fixture fx;
  writeBytes(fx.path(), "[S]\nText=from file\nCount=5\nKeep=old\n");
  fx.ini->setItems({
      ";;;;;;", "  ;  ; x ;  ;  ",                                  // nothing to name: skipped
      "NoSuchControl;Text;d;S;Text", "Probe1;NoSuchProperty;d;S;Text",  // unknown: skipped
      "PROBE1;text;dflt;s;TEXT",                                     // names in any case
      "Probe1;Count;9;S;Count;;1",                                   // loaded, never saved
      "Probe1;Alignment;alRight;S;Missing",                          // the item's default
      "mainform;objectName;Renamed;S;Name",                          // the window itself
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

TEST(IniOut, FileNameFieldsAndTrim) {
  const std::pair<const char*, const char*> names[] = {
      {"/x/y/Zorv.ini", "/x/y/ZORV.INI"}, {"/x/y/zorv", "/x/y/ZORV.INI"},
      {"/x/Dir.d/zorv.cfg.bak", "/x/Dir.d/ZORV.CFG.INI"}, {"rel/ünï.txt", "rel/üNï.INI"}, {"", ""}};
  TIniOut ini;
  for (const auto& [given, stored] : names) {
    ini.setFileName(QString::fromUtf8(given));
    EXPECT_EQ(ini.FileName(), QString::fromUtf8(stored));
  }
  const char* fields[] = {"a", "b", "", "d", "", ""};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(TIniOut::GetField("a;b;;d", i, u';'), fields[i]) << i;
  EXPECT_EQ(TIniOut::GetField(" x\t; \x01y ", 1, u';'), "y");
  EXPECT_EQ(TIniOut::Trim(QString("\x01\x1f \t") + QChar(0)), "");
  EXPECT_EQ(TIniOut::Trim(" \x7f mid dle \n"), "\x7f mid dle");
}

TEST(IniOut, FailuresAreToldOnceAndLoseNothing) {
  Fixture fx;
  fx.ini->setItems({"Probe1;Text;d;S;Text", "Probe1;Count;4;S;Count"});
  fx.probe->text = "unchanged";

  // No file name: the message box, nothing else.
  fx.ini->setFileName("");
  testsupport::shownMessages().clear();
  EXPECT_TRUE(fx.ini->LoadProperties());
  EXPECT_FALSE(fx.ini->SaveProperties());
  EXPECT_EQ(testsupport::shownMessages(), QStringList(2, "No INI Filename Specified."));
  EXPECT_TRUE(fx.ini->LastError().isEmpty());  // already told
  EXPECT_EQ(fx.probe->text, "unchanged");
  EXPECT_TRUE(QDir(fx.dir.path()).isEmpty());

  // A place that cannot be written.
  writeBytes(fx.dir.filePath("file"), "");
  fx.ini->setFileName(fx.dir.filePath("file/zorv.ini"));
  EXPECT_FALSE(fx.ini->SaveProperties());
  EXPECT_EQ(fx.ini->LastError(), "Cannot save settings to " + fx.dir.filePath("file/ZORV.INI") + ": Not a directory");

  // A value that is not one line: reported, and the other items are saved.
  fx.ini->setFileName(fx.path());
  fx.probe->text = "two\nlines";
  fx.probe->count = 3;
  EXPECT_FALSE(fx.ini->SaveProperties());
  EXPECT_TRUE(fx.ini->LastError().contains("Probe1.Text")) << fx.ini->LastError().toStdString();
  EXPECT_EQ(readBytes(fx.path()), "[S]\nCount=3\n");

  // Something that cannot be read: the defaults, an error, and it is not replaced.
  fx.ini->setFileName(fx.dir.filePath("sub/x.ini"));
  ASSERT_TRUE(QDir(fx.dir.path()).mkpath("sub/X.INI"));
  EXPECT_FALSE(fx.ini->LoadProperties());
  EXPECT_EQ(fx.probe->text, "d");
  EXPECT_TRUE(fx.ini->LastError().startsWith("Cannot read settings from "));
  EXPECT_FALSE(fx.ini->SaveProperties());
  EXPECT_TRUE(QFileInfo(fx.dir.filePath("sub/X.INI")).isDir());
}

TEST(MainSettings, DefaultsFirstThenWhatWasSaved) {
  QTemporaryDir dir;
  auto makeWindow = [] {
    auto w = std::make_unique<QWidget>();
    for (const char* name : {"EditNick", "EditServer", "EditPort"}) (new QLineEdit(w.get()))->setObjectName(name);
    for (const char* name : {"LabelFont", "LabelSize"}) (new QLabel(w.get()))->setObjectName(name);
    return w;
  };
  auto w = makeWindow();
  auto* ini = new TIniOut(w.get());
  zorv::ConfigureMainSettings(*ini, dir.path() + "/");
  EXPECT_EQ(ini->FileName(), dir.filePath("ZORV.INI"));
  ASSERT_TRUE(ini->LoadProperties());
  const std::pair<const char*, const char*> defaults[] = {{"EditNick", "YourNick"}, {"EditServer", zorv::kDefaultServer},
      {"EditPort", "6667"}, {"LabelFont", "MS Sans Serif"}, {"LabelSize", "8"}};
  for (const auto& [name, value] : defaults) EXPECT_EQ(w->findChild<QObject*>(name)->property("text"), value);

  w->findChild<QLineEdit*>("EditNick")->setText("Zed");
  w->findChild<QLabel*>("LabelSize")->setText("10");
  ASSERT_TRUE(ini->SaveProperties()) << ini->LastError().toStdString();
  EXPECT_EQ(readBytes(dir.filePath("ZORV.INI")),
            QByteArray("[User Info]\nNick=Zed\nServer=") + zorv::kDefaultServer +
                "\nPort=6667\n\n[Client Info]\nFont Name=MS Sans Serif\nFont Size=10\n");

  auto again = makeWindow();
  zorv::ConfigureMainSettings(*new TIniOut(again.get()), dir.path());
  ASSERT_TRUE(again->findChild<TIniOut*>()->LoadProperties());
  EXPECT_EQ(again->findChild<QLineEdit*>("EditNick")->text(), "Zed");
  EXPECT_EQ(again->findChild<QLabel*>("LabelSize")->text(), "10");
}

}  // namespace
