#pragma once
// Appends what the conversation windows show to log files, one per window:
//   <root>/<network>/<window>.log
// with the local date and time before each line and the line's bytes as they
// were shown (formatting codes kept, nothing re-encoded). Files are opened on
// their first line, written in batches at least every flushInterval and when
// a window closes; at most kOpenLimit files are open at once (the one used
// longest ago is closed first). A folder or file that cannot be written is
// reported once through the error handler and logging goes on for the others.
#include <QDateTime>
#include <QString>
#include <QTimer>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

class QFile;

class Logbook : public QObject {
 public:
  static constexpr int kOpenLimit = 32;
  static constexpr int kFlushMs = 2000;

  using ErrorHandler = std::function<void(const std::string& text)>;
  using Clock = std::function<QDateTime()>;

  // root: the logs folder ($XDG_DATA_HOME/zorv/logs unless a test says otherwise).
  explicit Logbook(QString root, QObject* parent = nullptr);
  ~Logbook() override;

  static QString defaultRoot();

  void setEnabled(bool on) { enabled_ = on; }
  bool enabled() const { return enabled_; }
  void setNetwork(const std::string& network) {
    network_ = network;
    keys_.clear();
  }
  void setErrorHandler(ErrorHandler handler) { onError_ = std::move(handler); }
  void setClock(Clock clock) { clock_ = std::move(clock); }

  // One line shown in a window.
  void append(const std::string& window, const std::string& text);
  // The window is gone: its pending lines are written and its file closed.
  void close(const std::string& window);
  // Writes every pending line now.
  void flush();

  // Where the lines of a window go (for tests and for telling the user).
  QString pathFor(const std::string& window) const;

 private:
  struct Open {
    std::unique_ptr<QFile> file;
    std::string pending;
    std::list<std::string>::iterator age;
  };

  const std::string& keyFor(const std::string& window);
  Open* openFor(const std::string& key);
  void write(Open& open);
  void closeKey(const std::string& key);
  const std::string& stamp();
  void report(const QString& path, const QString& reason);

  QString root_;
  std::string network_;
  bool enabled_ = true;
  ErrorHandler onError_;
  Clock clock_;
  std::unordered_map<std::string, std::string> keys_;  // window name -> the file's path
  std::unordered_map<std::string, Open> open_;  // by the file's path
  std::list<std::string> lru_;                  // oldest first
  std::unordered_set<std::string> failed_;      // files that could not be opened
  std::unordered_set<std::string> reported_;    // folders already reported
  QTimer flushTimer_;
  qint64 stampSecond_ = -1;
  std::string stamp_;
};
