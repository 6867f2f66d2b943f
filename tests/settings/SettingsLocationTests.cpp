// Which folder keeps the settings file, and when the configuration folder is
// made. Folders that refuse files even to root (/proc, a missing folder) stand
// in for a read-only program folder, so the cases hold under any user.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "SettingsLocation.h"
#include "SettingsProbe.h"

namespace {

TEST(SettingsLocation, ChoosesTheFolder) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString t = tmp.path();
  ASSERT_TRUE(QDir().mkpath(t + "/prog") && QDir().mkpath(t + "/inst/bin") && QDir().mkpath(t + "/old/zorv"));
  ::chmod(QFile::encodeName(t + "/old/zorv").constData(), 0755);
  ASSERT_TRUE(QFile::link(t + "/inst/bin", t + "/bin-link"));
  struct Case {
    const char* name;
    zorv::SettingsPlaces places;  // "$T" stands for the temporary folder
    QString expected;
    QString created;  // a folder that must exist afterwards with mode 0700 ("" for none)
  };
  const std::vector<Case> cases = {
      {"writable program folder", {"$T/prog", "$T/inst/bin", "$T/cfg1", "$T/home"}, "$T/prog", ""},
      {"unwritable program folder", {"/proc", "", "$T/cfg2/", "$T/home"}, "$T/cfg2/zorv", "$T/cfg2/zorv"},
      {"missing program folder", {"$T/gone", "", "$T/cfg3/deep", ""}, "$T/cfg3/deep/zorv", "$T/cfg3"},
      {"installed copy, even when writable",
       {"$T/inst/bin", "$T/inst/bin", "$T/cfg4", ""},
       "$T/cfg4/zorv",
       "$T/cfg4/zorv"},
      {"installed copy named through a link",
       {"$T/bin-link", "$T/inst/bin/", "$T/cfg5", ""},
       "$T/cfg5/zorv",
       "$T/cfg5/zorv"},
      {"no XDG_CONFIG_HOME: ~/.config",
       {"/proc", "", "", "$T/home6/"},
       "$T/home6/.config/zorv",
       "$T/home6/.config/zorv"},
      {"relative XDG_CONFIG_HOME: ~/.config",
       {"/proc", "", "cfg", "$T/home7"},
       "$T/home7/.config/zorv",
       "$T/home7/.config"},
      {"existing folder kept as it is", {"/proc", "", "$T/old", ""}, "$T/old/zorv", ""},
      {"no configuration home at all", {"/proc", "", "", "relative/home"}, "/proc", ""},
      {"configuration home cannot be made", {"/proc", "", "/proc/zorv-nowhere", ""}, "/proc/zorv-nowhere/zorv", ""},
  };
  for (Case c : cases) {
    for (QString* s : {&c.places.programDir, &c.places.installBinDir, &c.places.xdgConfigHome, &c.places.home,
                       &c.expected, &c.created})
      s->replace("$T", t);
    EXPECT_EQ(zorv::SettingsDirectory(c.places), c.expected) << c.name;
    EXPECT_TRUE(c.created.isEmpty() || testsupport::fileMode(c.created) == 0700) << c.name;
  }
  // The program folder was chosen: no configuration folder was made for it,
  // and the probe that found it writable left nothing there.
  EXPECT_FALSE(QFileInfo::exists(t + "/cfg1"));
  EXPECT_TRUE(QDir(t + "/prog").isEmpty());
  EXPECT_FALSE(QFileInfo::exists("/proc/zorv-nowhere"));
  EXPECT_EQ(testsupport::fileMode(t + "/old/zorv"), 0755);
}

}  // namespace
