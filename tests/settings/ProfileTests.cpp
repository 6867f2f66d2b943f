#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Profile.h"

using zorv::ProfileFile;

namespace {

void writeBytes(const QString& path, const QByteArray& data) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(f.write(data), data.size());
}

QByteArray readBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray withEol(QByteArray text, const char* eol) { return text.replace("\n", eol); }

const QByteArray kHandWritten =
    "; settings of a hand-edited file\n"
    "stray line before any section\n"
    "[User Info]\n"
    "  Nick = Alice  \n"
    "Server=irc.example.org\n"
    "; the port follows\n"
    "Port\n"
    "\n"
    "[client info]\n"
    "Font Name=Courier New\n"
    "FONT NAME=Second\n"
    "[User Info]\n"
    "Nick=Shadowed\n"
    "[Empty]\n";

class ProfileRead : public ::testing::TestWithParam<const char*> {};

TEST_P(ProfileRead, FindsSectionsAndKeysIgnoringCase) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI");
  writeBytes(path, withEol(kHandWritten, GetParam()));
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"user info", "NICK", "Alice"},                  // case of both, blanks around the value
      {" User Info ", " Nick ", "Alice"},              // blanks around the names
      {"User Info", "Server", "irc.example.org"},
      {"User Info", "Port", "default"},                // a line without "=" is no key
      {"Client Info", "font name", "Courier New"},     // the first of two keys wins
      {"User Info", "Missing", "default"},
      {"Empty", "Nick", "default"},
      {"Missing", "Nick", "default"},
      {"; settings of a hand-edited file", "x", "default"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(zorv::readProfileString(c.section, c.key, "default", path), QString(c.expected));
  }
  EXPECT_EQ(zorv::readProfileString("User Info", "Nick", "d", dir.filePath("NONE.INI")), "d");
}

INSTANTIATE_TEST_SUITE_P(LineEnds, ProfileRead, ::testing::Values("\n", "\r\n"));

TEST(ProfileWrite, KeepsOtherLinesAndTheFilesLineEnds) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI");
  writeBytes(path, withEol(kHandWritten, "\r\n"));
  QString error;
  ASSERT_TRUE(zorv::writeProfileString("USER INFO", "nick", "Bob", path, &error)) << error.toStdString();
  ASSERT_TRUE(zorv::writeProfileString("User Info", "Realname", "Bob B", path, &error));
  ASSERT_TRUE(zorv::writeProfileString("Client Info", "Font Size", "10", path, &error));
  ASSERT_TRUE(zorv::writeProfileString("New", "Key", "v", path, &error));
  const QByteArray expected =
      "; settings of a hand-edited file\n"
      "stray line before any section\n"
      "[User Info]\n"
      "Nick=Bob\n"
      "Server=irc.example.org\n"
      "; the port follows\n"
      "Port\n"
      "Realname=Bob B\n"
      "\n"
      "[client info]\n"
      "Font Name=Courier New\n"
      "FONT NAME=Second\n"
      "Font Size=10\n"
      "[User Info]\n"
      "Nick=Shadowed\n"
      "[Empty]\n"
      "\n"
      "[New]\n"
      "Key=v\n";
  EXPECT_EQ(readBytes(path), withEol(expected, "\r\n"));
  EXPECT_EQ(zorv::readProfileString("User Info", "Nick", "", path), "Bob");
}

TEST(ProfileWrite, CreatesFileWithLfAndReadsBackEveryValue) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI");
  const QString values[] = {"plain", "with = sign", "ünïcödé ✓", "a;b|c", "[not a section]", ""};
  int i = 0;
  for (const QString& v : values) ASSERT_TRUE(zorv::writeProfileString("S", QString("K%1").arg(i++), v, path));
  i = 0;
  for (const QString& v : values) EXPECT_EQ(zorv::readProfileString("S", QString("K%1").arg(i++), "x", path), v);
  EXPECT_TRUE(readBytes(path).startsWith("[S]\nK0=plain\nK1=with = sign\n"));
}

TEST(ProfileWrite, RefusesWhatOneLineCannotHold) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI");
  ASSERT_TRUE(zorv::writeProfileString("S", "K", "old", path));
  const QByteArray before = readBytes(path);
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"S", "K", "two\nlines"}, {"S", "K", "cr\rhere"}, {"S", "K=2", "v"}, {"S]x", "K", "v"},
      {"S", ";K", "v"},         {"S", "[K", "v"},       {"S\nT", "K", "v"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    QString error;
    EXPECT_FALSE(zorv::writeProfileString(c.section, c.key, c.value, path, &error));
    EXPECT_FALSE(error.isEmpty());
  }
  EXPECT_EQ(readBytes(path), before);
}

TEST(ProfileRead, CutsLongValuesAndSurvivesGarbage) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI");
  QByteArray garbage;
  for (int i = 0; i < 70000; ++i) garbage += char((i * 7919 + i / 13) & 0xff);  // every byte value, NULs too
  garbage.replace('\r', 'x');  // LF line ends throughout, so that a rewrite keeps every byte
  const QByteArray huge(1 << 20, 'v');
  writeBytes(path, garbage + QByteArray("\n[User Info]\nNick=A\0B\nServer=", 29) + huge + "\nnot a key\n" +
                       QByteArray(5000, '=') + "\n[\n[Unclosed\nK=in unclosed\n");
  EXPECT_EQ(zorv::readProfileString("User Info", "Nick", "", path), QString("A") + QChar(0) + "B");
  EXPECT_EQ(zorv::readProfileString("User Info", "Server", "", path), QString(1023, 'v'));
  EXPECT_EQ(zorv::readProfileString("Unclosed", "K", "", path), "in unclosed");
  EXPECT_EQ(zorv::readProfileString("User Info", "Port", QString(2000, 'd'), path), QString(1023, 'd'));
  // A character outside the basic plane is not split at the cut.
  const QString emoji = QString(1022, 'x') + QString::fromUtf8("\xF0\x9F\x98\x80");
  ASSERT_TRUE(zorv::writeProfileString("S", "Emoji", emoji, path));
  EXPECT_EQ(zorv::readProfileString("S", "Emoji", "", path), QString(1022, 'x'));
  // Writing keeps the garbage as it was.
  EXPECT_TRUE(readBytes(path).startsWith(garbage + "\n[User Info]\n"));
}

TEST(ProfileRead, StaysLinearOnManyKeys) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI");
  const int n = 50000;
  QByteArray data = "[S]\n";
  for (int i = 0; i < n; ++i) data += "Key" + QByteArray::number(i) + "=" + QByteArray::number(i * 3) + "\n";
  writeBytes(path, data);
  QElapsedTimer t;
  t.start();
  ProfileFile f(path);
  ASSERT_TRUE(f.load());
  for (int i = 0; i < n; i += 7) ASSERT_EQ(f.value("s", "KEY" + QString::number(i), ""), QString::number(i * 3));
  for (int i = 0; i < n; ++i) ASSERT_TRUE(f.setValue("T", "New" + QString::number(i), "x"));
  ASSERT_TRUE(f.save()) << f.error().toStdString();
  EXPECT_LT(t.elapsed(), 5000);
  EXPECT_EQ(zorv::readProfileString("T", "New49999", "", path), "x");
}

TEST(ProfileSave, ReplacesTheFileInsteadOfRewritingIt) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI");
  const QString link = dir.filePath("other-name");
  writeBytes(path, "[S]\nK=old\n");
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
  // A second name for the old file sees the old contents after the save: the new
  // file was written beside it and renamed, never written in place.
  ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()), 0);
  ASSERT_TRUE(zorv::writeProfileString("S", "K", "new", path));
  EXPECT_EQ(readBytes(link), "[S]\nK=old\n");
  EXPECT_EQ(readBytes(path), "[S]\nK=new\n");
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);  // no temporary left over
}

TEST(ProfileSave, WritesThroughASymlink) {
  QTemporaryDir dir;
  const QString real = dir.filePath("real.ini");
  const QString path = dir.filePath("ZORV.INI");
  writeBytes(real, "[S]\nK=old\n");
  ASSERT_TRUE(QFile::link(real, path));
  ASSERT_TRUE(zorv::writeProfileString("S", "K", "new", path));
  EXPECT_TRUE(QFileInfo(path).isSymLink());
  EXPECT_EQ(readBytes(real), "[S]\nK=new\n");
}

TEST(ProfileSave, AFullDiskLeavesTheOldFileWhole) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI");
  const QByteArray old = "[S]\nK=old\n" + QByteArray(4000, ';') + "\n";
  writeBytes(path, old);
  ProfileFile f(path);
  ASSERT_TRUE(f.load());
  ASSERT_TRUE(f.setValue("S", "K", QString(200000, 'n')));
  // A file size limit makes the write fail part way, as a full disk would.
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
  EXPECT_FALSE(f.error().isEmpty());
  EXPECT_EQ(readBytes(path), old);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"ZORV.INI"});
}

TEST(ProfileSave, ReportsAPlaceThatCannotBeWritten) {
  QTemporaryDir dir;
  writeBytes(dir.filePath("plainfile"), "x");
  // Under a regular file nothing can be created, not even by root.
  QString error;
  EXPECT_FALSE(zorv::writeProfileString("S", "K", "v", dir.filePath("plainfile/ZORV.INI"), &error));
  EXPECT_EQ(error, "Not a directory");
  EXPECT_FALSE(zorv::writeProfileString("S", "K", "v", dir.filePath("missing/ZORV.INI"), &error));
  EXPECT_EQ(error, "No such file or directory");

  // Something that exists but cannot be read is not replaced.
  ASSERT_TRUE(QDir(dir.path()).mkdir("ZORV.INI"));
  EXPECT_FALSE(zorv::writeProfileString("S", "K", "v", dir.filePath("ZORV.INI"), &error));
  EXPECT_TRUE(QFileInfo(dir.filePath("ZORV.INI")).isDir());
}

TEST(ProfileSave, ReadOnlyDirectoryKeepsTheOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
  QTemporaryDir dir;
  const QString sub = dir.filePath("installed");
  ASSERT_TRUE(QDir().mkdir(sub));
  const QString path = sub + "/ZORV.INI";
  writeBytes(path, "[S]\nK=old\n");
  ASSERT_EQ(::chmod(QFile::encodeName(sub).constData(), 0555), 0);
  QString error;
  const bool ok = zorv::writeProfileString("S", "K", "new", path, &error);
  ::chmod(QFile::encodeName(sub).constData(), 0755);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, "Permission denied");
  EXPECT_EQ(readBytes(path), "[S]\nK=old\n");
}

TEST(ProfileSave, NothingChangedWritesNothing) {
  QTemporaryDir dir;
  const QString path = dir.filePath("ZORV.INI");
  writeBytes(path, "[S]\r\nK = same\r\n");
  ProfileFile f(path);
  ASSERT_TRUE(f.load());
  ASSERT_TRUE(f.setValue("s", "k", "same"));
  EXPECT_FALSE(f.modified());  // same value: the file's own spelling stays
  ASSERT_TRUE(f.setValue("s", "k", "other"));
  EXPECT_TRUE(f.modified());
}

}  // namespace
