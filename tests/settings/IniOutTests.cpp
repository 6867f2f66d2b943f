#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
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
    probe->peer = probe;
    probe->handler = TMethod{&window, window.metaObject()->indexOfMethod("HandleClick()")};
  }
  QString path() const { return dir.filePath("TEST.INI"); }
  QMetaProperty prop(const char* name) const { return TIniOut::FindProperty(probe, name); }
  QString text(const char* name) const { return ini->PropertyToText(probe, prop(name)); }
};

// What one text does to one property, seen as the property's text afterwards,
// then saved and loaded into a fresh object. Every case starts from the same
// state. Numbers, booleans and texts are what the program keeps; the other
// kinds the component converts have one row each.
TEST(IniOut, TextToPropertySaveAndLoad) {
  const char* cases[][3] = {
      // Boolean: true when the text begins with 1 T Y t y; empty leaves it (it starts true)
      {"Active", "0", "0"}, {"Active", "yes", "1"}, {"Active", "T", "1"}, {"Active", "no", "0"},
      {"Active", "False", "0"}, {"Active", " 1", "0"}, {"Active", "", "1"},
      // numbers: what does not convert leaves the value
      {"Count", "-42", "-42"}, {"Count", "$1F", "31"}, {"Count", "abc", "7"}, {"Count", "99999999999", "7"},
      {"Text", "hello; world", "hello; world"},
      {"Color", "darkRed", "darkRed"}, {"Cursor", "2", "CrossCursor"}, {"Letter", "xyz", "x"},
      {"Alignment", "alright", "alRight"}, {"Style", "[ underline , bold ]", "[Bold,Underline]"},
      {"Ratio", "0.1", "0.1"}, {"Peer", "other", "Other"}, {"OnClick", "otherhandler", "OtherHandler"},
      {"Font", "Arial|10", "Arial|10|1"}, {"Lines", "one|two", "one|two"},
  };
  for (const auto& c : cases) {
    Fixture fx;
    fx.ini->TextToProperty(fx.probe, fx.prop(c[0]), c[1]);
    EXPECT_EQ(fx.text(c[0]), c[2]) << c[0] << " <- \"" << c[1] << "\"";
    fx.ini->setItems({QString("probe1;%1;;Probe;%1").arg(QString(c[0]).toLower())});
    ASSERT_TRUE(fx.ini->SaveProperties()) << fx.ini->LastError().toStdString();
    EXPECT_EQ(zorv::readProfileString("Probe", c[0], "", fx.path()), c[2]) << c[0];
    delete fx.probe;
    Probe fresh(&fx.window);
    fresh.setObjectName("Probe1");
    fx.probe = &fresh;
    ASSERT_TRUE(fx.ini->LoadProperties());
    EXPECT_EQ(fx.text(c[0]), c[2]) << c[0] << " loaded";
    fx.probe = nullptr;
  }
}

TEST(IniOut, ItemsSkipUnknownsBlanksAndLoadOnlyEntries) {
  Fixture fx;
  writeBytes(fx.path(), "[S]\nText=from file\nCount=5\nKeep=old\n");
  // Nothing to name or unknown: skipped; names in any case; loaded, never
  // saved; the item's default; the window itself.
  fx.ini->setItems({";;;;;;", "  ;  ; x ;  ;  ", "NoSuchControl;Text;d;S;Text", "Probe1;NoSuchProperty;d;S;Text",
                    "PROBE1;text;dflt;s;TEXT", "Probe1;Count;9;S;Count;;1", "Probe1;Alignment;alRight;S;Missing",
                    "mainform;objectName;Renamed;S;Name"});
  ASSERT_TRUE(fx.ini->LoadProperties());
  EXPECT_EQ(fx.probe->text, "from file");
  EXPECT_EQ(fx.probe->count, 5);
  EXPECT_EQ(fx.probe->alignment, Probe::alRight);
  EXPECT_EQ(fx.window.objectName(), "Renamed");

  fx.window.setObjectName("MainForm");
  fx.probe->text = "changed", fx.probe->count = 6;
  ASSERT_TRUE(fx.ini->SaveProperties());
  EXPECT_EQ(readBytes(fx.path()), "[S]\nText=changed\nCount=5\nKeep=old\nMissing=alRight\nName=MainForm\n");
}

TEST(IniOut, FileNameTakesTheIniExtensionInCapitals) {
  const std::pair<const char*, const char*> names[] = {{"/x/y/Zorv.ini", "/x/y/ZORV.INI"},
                                                       {"/x/y/zorv", "/x/y/ZORV.INI"},
                                                       {"/x/Dir.d/zorv.cfg.bak", "/x/Dir.d/ZORV.CFG.INI"},
                                                       {"rel/ünï.txt", "rel/üNï.INI"},
                                                       {"", ""}};
  TIniOut ini;
  for (const auto& [given, stored] : names)
    EXPECT_EQ((ini.setFileName(QString::fromUtf8(given)), ini.FileName()), QString::fromUtf8(stored));
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
  EXPECT_TRUE(fx.probe->text == "unchanged" && QDir(fx.dir.path()).isEmpty());

  // A place that cannot be written.
  writeBytes(fx.dir.filePath("file"), "");
  fx.ini->setFileName(fx.dir.filePath("file/zorv.ini"));
  EXPECT_FALSE(fx.ini->SaveProperties());
  EXPECT_EQ(fx.ini->LastError(), "Cannot save settings to " + fx.dir.filePath("file/ZORV.INI") + ": Not a directory");

  // A value that is not one line: reported, and the other items are saved.
  fx.ini->setFileName(fx.path());
  fx.probe->text = "two\nlines", fx.probe->count = 3;
  EXPECT_FALSE(fx.ini->SaveProperties());
  EXPECT_TRUE(fx.ini->LastError().contains("Probe1.Text")) << fx.ini->LastError().toStdString();
  EXPECT_EQ(readBytes(fx.path()), "[S]\nCount=3\n");
}

}  // namespace
