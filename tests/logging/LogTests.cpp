// Log files: names made safe from hostile window names, what a file holds
// after a session, and a folder that cannot be written.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include "LogNames.h"
#include "Logbook.h"
#include "TestSupport.h"

namespace {

using zorv::safeLogName;

TEST(LogNames, HostileNamesStayOneHarmlessComponent) {
  const struct { std::string name, file; } cases[] = {
      {"#chat", "#chat"}, {"#Chat", "#chat"},  // one window whatever the case
      {"../x", "%2E.%2Fx"}, {"#a/b", "#a%2Fb"}, {"..", "%2E."}, {".hidden", "%2Ehidden"}, {"", "%00"},
      {std::string("\x01nick\x7f\0x", 8), "%01nick%7F%00x"}, {"a b%c", "a%20b%25c"}, {"caf\xc3\xa9", "caf%C3%A9"},
      {"\\\\?\\C:", "%5C%5C%3F%5Cc%3A"}, {"2001:DB8::1", "2001%3Adb8%3A%3A1"},  // an IPv6 server's network folder
  };
  for (const auto& c : cases) EXPECT_EQ(safeLogName(c.name), c.file) << c.name;

  // Long names are cut to the limit and stay apart by a hash of the whole name.
  EXPECT_EQ(safeLogName(std::string(400, 'a')).size(), zorv::kLogNameLimit);
  EXPECT_NE(safeLogName(std::string(400, 'a')), safeLogName(std::string(399, 'a') + "b"));
  EXPECT_LE(safeLogName(std::string(400, '/')).size(), zorv::kLogNameLimit);
  // Random names are fuzz/LogNameFuzz.cpp's, replayed over its corpus as a test.
}

using testsupport::readBytes;

class LogbookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    book = std::make_unique<Logbook>(dir.filePath("logs"));
    book->setNetwork("irc.example.net");
    book->setClock([] { return QDateTime(QDate(2026, 12, 6), QTime(9, 5, 7)); });
    book->setErrorHandler([this](const std::string& line) { errors.push_back(line); });
  }
  QTemporaryDir dir;
  std::unique_ptr<Logbook> book;
  std::vector<std::string> errors;
};

TEST_F(LogbookTest, AFileHoldsEveryLineWithItsTimeAndItsBytesAsShown) {
  book->append("#chat", "<amy>hi \x02" "bold\x02 \x03" "4red");
  book->append("#Chat", "latin-1 \xe9t\xe9");
  book->append("Server", "Connected");
  book->close("#CHAT");
  const QString path = dir.filePath("logs/irc.example.net/#chat.log");
  EXPECT_EQ(book->pathFor("#chat"), path);
  // Formatting codes are left out; the session opens and closes with a dated line.
  const QByteArray first("**** BEGIN LOGGING AT 2026-12-06 09:05:07\n[2026-12-06 09:05:07] <amy>hi bold red\n"
                         "[2026-12-06 09:05:07] latin-1 \xe9t\xe9\n**** ENDING LOGGING AT 2026-12-06 09:05:07\n");
  EXPECT_EQ(readBytes(path), first);
  // A later session appends.
  book->append("#chat", "again");
  book->flush();
  EXPECT_EQ(readBytes(path), first + "**** BEGIN LOGGING AT 2026-12-06 09:05:07\n[2026-12-06 09:05:07] again\n");
  // Lines not yet written reach the file within the flush interval.
  EXPECT_TRUE(testsupport::waitFor(
      [&] { return readBytes(dir.filePath("logs/irc.example.net/server.log")).contains("Connected\n"); },
      Logbook::kFlushMs * 3));
  EXPECT_TRUE(errors.empty());

  // Hostile window names: every file lands in the network's folder.
  const std::string names[] = {"../x", "#a/b", std::string(400, 'n'), "\x01\x02\x7f", "/etc/passwd", "..", ""};
  for (const auto& n : names) book->append(n, "line");
  book->flush();
  const QString folder = QFileInfo(path).canonicalPath();
  int files = 0;
  for (QDirIterator it(dir.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext(); ++files)
    EXPECT_EQ(QFileInfo(it.next()).canonicalPath(), folder) << it.filePath().toStdString();
  EXPECT_EQ(files, 2 + 7);
}

TEST_F(LogbookTest, ManyWindowsShareALimitedNumberOfOpenFilesAndLoseNothing) {
  const int windows = Logbook::kOpenLimit * 2 + 3;
  for (int round = 0; round < 3; ++round)
    for (int w = 0; w < windows; ++w) book->append("nick" + std::to_string(w), "round " + std::to_string(round));
  book->flush();
  for (int w = 0; w < windows; ++w)
    EXPECT_EQ(readBytes(book->pathFor("nick" + std::to_string(w))),
              "**** BEGIN LOGGING AT 2026-12-06 09:05:07\n[2026-12-06 09:05:07] round 0\n"
              "[2026-12-06 09:05:07] round 1\n[2026-12-06 09:05:07] round 2\n");
}

TEST_F(LogbookTest, AFolderThatCannotBeWrittenIsSaidOnceAndNothingElseChanges) {
  testsupport::writeBytes(dir.filePath("file"), "");  // a file where the folder should be
  Logbook blocked(dir.filePath("file/logs"));
  blocked.setNetwork("irc.example.net");
  blocked.setErrorHandler([this](const std::string& line) {
    errors.push_back(line);
    book->append("Server", line);  // the report itself shown (and logged elsewhere)
  });
  for (int i = 0; i < 5; ++i) {
    blocked.append("#chat", "x");
    blocked.append("#other", "y");
  }
  blocked.flush();
  ASSERT_EQ(errors.size(), 1u);

  // Switched off, nothing is written.
  book->setEnabled(false);
  book->append("#off", "x");
  book->flush();
  EXPECT_FALSE(QFileInfo::exists(book->pathFor("#off")));
  EXPECT_EQ(errors[0].rfind("*** Cannot write logs to " + dir.filePath("file/logs/irc.example.net").toStdString(), 0),
            0u)
      << errors[0];
}

}  // namespace
