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

TEST(ProfileWrite, NewFileTakesLfAndEveryValueReadsBack) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI");
  const QString mark(QChar(0xFEFF));
  const QString values[] = {"plain", "with = sign", "ünïcödé ✓", "[not a section]", "",
                            mark + "starts with a byte order mark", mark + mark + QChar(0xFFFD)};
  for (int i = 0; i < 7; ++i) ASSERT_TRUE(writeProfileString("S", QString("K%1").arg(i), values[i], path));
  for (int i = 0; i < 7; ++i) EXPECT_EQ(readProfileString("S", QString("K%1").arg(i), "x", path), values[i]);
  // Names read back as they were written, byte order marks included (a fuzz finding).
  ASSERT_TRUE(writeProfileString(mark + mark + "S", mark + mark + QChar(0xFFFD), "v", path));
  EXPECT_EQ(readProfileString(mark + mark + "S", mark + mark + QChar(0xFFFD), "x", path), "v");
  EXPECT_TRUE(readBytes(path).startsWith("[S]\nK0=plain\nK1=with = sign\n"));

  // What one line cannot hold is refused, and the file stays as it was.
  const QByteArray before = readBytes(path);
  const QString lone(QChar(0xD800));  // no UTF-8 spelling: would come back as something else
  const QString refused[][3] = {{"S", "K", "two\nlines"}, {"S", "K", "cr\rhere"}, {"S", "K=2", "v"}, {"S]x", "K", "v"}, {"S", ";K", "v"}, {"S", "[K", "v"}, {"S", "K" + lone, "v"}, {"S" + lone, "K", "v"}};
  for (const auto& r : refused) EXPECT_FALSE(writeProfileString(r[0], r[1], r[2], path)) << r[1].toStdString() << "=" << r[2].toStdString();
  EXPECT_EQ(readBytes(path), before);
}

TEST(ProfileRead, CutsLongValuesAndSurvivesGarbage) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI");
  QByteArray garbage;
  for (int i = 0; i < 70000; ++i) garbage += char((i * 7919 + i / 13) & 0xff);  // every byte, NULs too
  garbage.replace('\r', 'x');  // LF line ends only, so that a rewrite keeps every byte
  writeBytes(path, garbage + QByteArray("\n[User Info]\nNick=A\0B\nServer=", 29) + QByteArray(1 << 20, 'v') +
                       "\nnot a key\n" + QByteArray(5000, '=') + "\n[\n[Unclosed\nK=in unclosed\n");
  EXPECT_EQ(readProfileString("User Info", "Nick", "", path), QString("A") + QChar(0) + "B");
  EXPECT_EQ(readProfileString("User Info", "Server", "", path), QString(1023, 'v'));
  EXPECT_EQ(readProfileString("Unclosed", "K", "", path), "in unclosed");
  EXPECT_EQ(readProfileString("User Info", "Port", QString(2000, 'd'), path), QString(1023, 'd'));
  // A character outside the basic plane is not split by the cut.
  ASSERT_TRUE(writeProfileString("S", "Emoji", QString(1022, 'x') + QString::fromUtf8("\xF0\x9F\x98\x80"), path));
  EXPECT_EQ(readProfileString("S", "Emoji", "", path), QString(1022, 'x'));
  EXPECT_TRUE(readBytes(path).startsWith(garbage + "\n[User Info]\n"));
}

TEST(ProfileSave, ReplacesTheFileInsteadOfRewritingIt) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI"), other = dir.filePath("other-name"), link = dir.filePath("link.ini");
  writeBytes(path, "[S]\nK=old\n");
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
  // A second name of the old file still sees the old contents: the new file was
  // written beside it and renamed over it, never written in place.
  ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(other).constData()), 0);
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
  const struct { const char* name; mode_t before; bool isPrivate, change; mode_t after; } cases[] = {  // before 0: no file yet
      {"new private file", 0, true, true, 0600}, {"readable by all, changed", 0644, true, true, 0600},
      {"readable by all, unchanged", 0664, true, false, 0600}, {"owner read-only stays so", 0444, true, true, 0400},
      {"already private", 0600, true, false, 0600}, {"not private: kept", 0644, false, true, 0644},
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

TEST(ProfileSave, AFullDiskLeavesTheOldFileWhole) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI");
  const QByteArray old = "[S]\nK=old\n" + QByteArray(4000, ';') + "\n";
  writeBytes(path, old);
  zorv::ProfileFile f(path);
  ASSERT_TRUE(f.load());
  ASSERT_TRUE(f.setValue("S", "K", QString(200000, 'n')));
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
  EXPECT_EQ(readBytes(path), old);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"ZORV.INI"});
}

}  // namespace
