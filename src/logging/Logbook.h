#pragma once
// Appends what the conversation windows show to log files, one per window:
//   <root>/<network>/<window>.log
// with the local date and time before each line and the line's bytes as they
// were shown (formatting codes kept, nothing re-encoded).
//
// A line costs one look-up of its window's buffer and one append: each file
// has a buffer of its own, written when the next line would take it past
// kWriteAtOnce bytes, kFlushMs after its first unwritten line, when its window closes, when the network changes, on flush()
// (the main window calls it at disconnect) and when the Logbook goes (exit).
// The time stamp text is made once per second of the wall clock and shared by
// every line of that second. A file is opened on its window's first line (so
// a folder that cannot be written is said at once) and again whenever its
// buffer is written after it was closed; at most kOpenLimit files are open at
// once (the one used longest ago is closed first). A folder or file that
// cannot be written is reported once through the error handler and logging
// goes on for the others.
#include <QDateTime>
#include <QString>
#include <QTimer>
#include <cstring>
#include <ctime>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QFile;

class Logbook : public QObject {
 public:
  static constexpr int kOpenLimit = 32;
  static constexpr int kFlushMs = 2000;
  static constexpr std::size_t kWriteAtOnce = 64 * 1024;  // a buffer this full is written at once

  using ErrorHandler = std::function<void(const std::string& text)>;
  using Clock = std::function<QDateTime()>;

  // root: the logs folder ($XDG_DATA_HOME/zorv/logs unless a test says otherwise).
  explicit Logbook(QString root, QObject* parent = nullptr);
  ~Logbook() override;

  static QString defaultRoot();

  void setEnabled(bool on) { enabled_ = on; }
  bool enabled() const { return enabled_; }
  // The logs of another network go to another folder: what is pending is
  // written and every file closed first.
  void setNetwork(const std::string& network);
  void setErrorHandler(ErrorHandler handler) { onError_ = std::move(handler); }
  // A clock of its own (tests); without one the system's wall clock is read.
  void setClock(Clock clock) { clock_ = std::move(clock); }
  // The lines appended from now on were said at utcMs (ms since 1970), not
  // now (a bouncer's playback); 0 returns to the clock.
  void setSaidAt(long long utcMs) { saidAt_ = utcMs; }

  // One line shown in a window.
  void append(const std::string& window, const std::string& text) {
    if (!enabled_) return;
    Log* log = logFor(window);
    if (!log) return;
    const std::string& time = stamp();
    const std::size_t size = time.size() + text.size() + 1;
    if (size > log->room - log->used) makeRoom(*log, size);
    char* at = log->bytes.get() + log->used;
    std::memcpy(at, time.data(), time.size());
    std::memcpy(at + time.size(), text.data(), text.size());
    at[size - 1] = '\n';
    log->used += size;
    if (!flushArmed_) armFlush();
  }
  // The window is gone: its pending lines are written and its file closed.
  void close(const std::string& window);
  // Writes every pending line now.
  void flush();

  // Where the lines of a window go (for tests and for telling the user).
  QString pathFor(const std::string& window) const;

 private:
  // One log file and the lines not yet written to it: the first used bytes
  // of a block of room bytes.
  struct Log {
    std::string path;
    std::unique_ptr<char[]> bytes;
    std::size_t used = 0, room = 0;
    std::unique_ptr<QFile> file;            // while open
    std::list<Log*>::iterator age;          // its place in open_ while open
  };

  Log* logFor(const std::string& window) {
    if (window == lastName_ && lastLog_) return lastLog_;
    return findLog(window);
  }
  Log* findLog(const std::string& window);
  bool open(Log& log);
  void closeFile(Log& log);
  void makeRoom(Log& log, std::size_t size);
  void write(Log& log, bool release);
  void writeAll(bool release);
  void dropLog(Log* log);
  void armFlush();
  void flushTimeout();
  const std::string& stamp() {
    if (saidAt_ > 0) return stampAt(QDateTime::fromMSecsSinceEpoch(saidAt_));
    if (clock_) return stampAt(clock_());
    const std::time_t now = std::time(nullptr);
    if (now != stampSecond_) makeStamp(now);
    return stamp_;
  }
  const std::string& stampAt(const QDateTime& time);
  void makeStamp(std::time_t second);
  void report(const QString& path, const QString& reason);

  QString root_;
  std::string network_;
  bool enabled_ = true;
  ErrorHandler onError_;
  Clock clock_;
  std::unordered_map<std::string, std::unique_ptr<Log>> logs_;  // by the file's path
  std::unordered_map<std::string, Log*> names_;                 // window name -> its log
  std::string lastName_;          // the window of the last line, and its log
  Log* lastLog_ = nullptr;
  std::list<Log*> open_;          // logs with an open file, used longest ago first
  std::unordered_set<std::string> failed_;    // files that could not be opened
  std::unordered_set<std::string> reported_;  // folders already reported
  QTimer flushTimer_;
  bool flushArmed_ = false;
  long long saidAt_ = 0;
  std::time_t stampSecond_ = -1;
  std::string stamp_;
};
