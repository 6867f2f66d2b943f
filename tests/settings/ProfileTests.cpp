#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Profile.h"
#include "SettingsProbe.h"

using zorv::readProfileString;
using zorv::writeProfileString;

namespace {

QByteArray withEol(QByteArray text, const char* eol) { return text.replace("\n", eol); }

const QByteArray kHandWritten =
    "; settings of a hand-edited file\nstray line before any section\n"
    "[User Info]\n  Nick = Alice  \nServer=irc.example.org\n; the port follows\nPort\n\n"
    "[client info]\nFont Name=Courier New\nFONT NAME=Second\n"
    "[User Info]\nNick=Shadowed\n[Empty]\n";

// Read with either line end; a write keeps every other line and the file's line ends.
TEST(Profile, ReadsIgnoringCaseAndWritesKeepingTheRest) {
  for (const char* eol : {"\n", "\r\n"}) {
    QTemporaryDir dir;
    const QString path = dir.filePath("ZORV.INI");
    writeBytes(path, withEol(kHandWritten, eol));
    const char* cases[][3] = {
        {"user info", "NICK", "Alice"}, {" User Info ", " Nick ", "Alice"},  // blanks around names and value
        {"User Info", "Server", "irc.example.org"}, {"User Info", "Port", "default"},  // no "=": no key
        {"Client Info", "font name", "Courier New"},  // the first of two keys wins
        {"User Info", "Missing", "default"}, {"Empty", "Nick", "default"}, {"Missing", "Nick", "default"},
    };
    for (const auto& c : cases) EXPECT_EQ(readProfileString(c[0], c[1], "default", path), c[2]) << c[0] << "/" << c[1];
    EXPECT_EQ(readProfileString("User Info", "Nick", "d", dir.filePath("NONE.INI")), "d");
    ASSERT_TRUE(writeProfileString("USER INFO", "nick", "Bob", path));
    ASSERT_TRUE(writeProfileString("User Info", "Realname", "Bob B", path));
    ASSERT_TRUE(writeProfileString("Client Info", "Font Size", "10", path));
    ASSERT_TRUE(writeProfileString("New", "Key", "v", path));
    const QByteArray expected =
        "; settings of a hand-edited file\nstray line before any section\n"
        "[User Info]\nNick=Bob\nServer=irc.example.org\n; the port follows\nPort\nRealname=Bob B\n\n"
        "[client info]\nFont Name=Courier New\nFONT NAME=Second\nFont Size=10\n"
        "[User Info]\nNick=Shadowed\n[Empty]\n\n[New]\nKey=v\n";
    EXPECT_EQ(readBytes(path), withEol(expected, eol));
  }
}

// A new file takes LF line ends; long values are cut to the limit (the
// default too), NULs and unclosed sections read as they stand; what one line
// cannot hold is refused and the file stays as it was. Values written and
// read back over hostile files are the settings fuzz target's.
TEST(Profile, NewFileLimitsAndRefusals) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI");
  ASSERT_TRUE(writeProfileString("S", "K0", "plain", path));
  ASSERT_TRUE(writeProfileString("S", "K1", "with = sign", path));
  EXPECT_EQ(readBytes(path), "[S]\nK0=plain\nK1=with = sign\n");
  writeBytes(path, QByteArray("[User Info]\nNick=A\0B\nServer=", 29) + QByteArray(1 << 20, 'v') +
                       "\n[\n[Unclosed\nK=in unclosed\n");
  EXPECT_EQ(readProfileString("User Info", "Nick", "", path), QString("A") + QChar(0) + "B");
  EXPECT_EQ(readProfileString("User Info", "Server", "", path), QString(1023, 'v'));
  EXPECT_EQ(readProfileString("Unclosed", "K", "", path), "in unclosed");
  EXPECT_EQ(readProfileString("User Info", "Port", QString(2000, 'd'), path), QString(1023, 'd'));

  const QByteArray before = readBytes(path);
  const QString lone(QChar(0xD800));  // no UTF-8 spelling: would come back as something else
  const QString refused[][3] = {{"S", "K", "two\nlines"}, {"S", "K", "cr\rhere"}, {"S", "K=2", "v"},
                                {"S]x", "K", "v"},        {"S", ";K", "v"},       {"S", "[K", "v"},
                                {"S", "K" + lone, "v"},   {"S" + lone, "K", "v"}};
  for (const auto& r : refused)
    EXPECT_FALSE(writeProfileString(r[0], r[1], r[2], path)) << r[1].toStdString() << "=" << r[2].toStdString();
  EXPECT_EQ(readBytes(path), before);
}

// The new file is written beside the old one and renamed over it: a full
// disk leaves the old file whole, and another name of it sees the old contents.
TEST(ProfileSave, ReplacesTheFileInsteadOfRewritingIt) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI"), other = dir.filePath("other-name"), link = dir.filePath("link.ini");
  writeBytes(path, "[S]\nK=old\n");
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
  ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(other).constData()), 0);
  zorv::ProfileFile f(path);
  ASSERT_TRUE(f.load() && f.setValue("S", "K", QString(200000, 'n')));
  // A file size limit makes the write fail part way, as a full disk does.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool ok = f.save();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(f.error(), "File too large");
  EXPECT_EQ(readBytes(path), "[S]\nK=old\n");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);  // no temporary left
  ASSERT_TRUE(writeProfileString("S", "K", "new", path));
  EXPECT_EQ(readBytes(other), "[S]\nK=old\n");
  EXPECT_EQ(readBytes(path), "[S]\nK=new\n");
  EXPECT_EQ(QFileInfo(path).permissions(), QFileInfo(other).permissions());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);  // no temporary left

  // Through a symbolic link the file it points to is replaced; the link stays.
  ASSERT_TRUE(QFile::link(path, link));
  ASSERT_TRUE(writeProfileString("S", "K", "linked", link));
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_EQ(readBytes(path), "[S]\nK=linked\n");
}

// A private file (one holding a password) is closed to the group and others
// however it was before, whether or not its contents change; an ordinary
// save keeps what the file had.
TEST(ProfileSave, APrivateFileIsTheOwnersAlone) {
  const struct {
    const char* name;
    mode_t before;
    bool isPrivate, change;
    mode_t after;
  } cases[] = {
      // before 0: no file yet
      {"new private file", 0, true, true, 0600},
      {"readable by all, changed", 0644, true, true, 0600},
      {"readable by all, unchanged", 0664, true, false, 0600},
      {"owner read-only stays so", 0444, true, true, 0400},
      {"already private", 0600, true, false, 0600},
      {"not private: kept", 0644, false, true, 0644},
      {"not private, unchanged: kept", 0664, false, false, 0664},
  };
  const mode_t mask = ::umask(022);
  for (const auto& c : cases) {
    QTemporaryDir dir;
    const QString path = dir.filePath("ZORV.INI");
    if (c.before) {
      writeBytes(path, "[User Info]\nPassword=old\n");
      ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), c.before), 0);
    }
    zorv::ProfileFile f(path);
    ASSERT_TRUE(f.load());
    ASSERT_TRUE(!(c.change || !c.before) || f.setValue("User Info", "Password", "new"));
    f.setPrivate(c.isPrivate);
    EXPECT_TRUE(f.save()) << c.name << ": " << f.error().toStdString();
    EXPECT_EQ(testsupport::fileMode(path), static_cast<int>(c.after)) << c.name;
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"ZORV.INI"}) << c.name;
  }
  ::umask(mask);
}


}  // namespace
