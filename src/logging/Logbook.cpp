#include "Logbook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <utility>

#include "LogNames.h"

namespace {
// A block written by the timer gives its memory back when it grew past this:
// a quiet window holds no flood-sized block.
constexpr std::size_t kKeptRoom = 4 * 1024;
constexpr std::size_t kFirstRoom = 512;
}  // namespace

Logbook::Logbook(QString root, QObject* parent) : QObject(parent), root_(std::move(root)) {
  flushTimer_.setSingleShot(true);
  flushTimer_.setInterval(kFlushMs);
  connect(&flushTimer_, &QTimer::timeout, this, [this] { flushTimeout(); });
}

Logbook::~Logbook() {
  // Nothing can be shown any more: the window that would show an error is going.
  onError_ = nullptr;
  while (!logs_.empty()) dropLog(logs_.begin()->second.get());
}

QString Logbook::defaultRoot() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/zorv/logs");
}

QString Logbook::pathFor(const std::string& window) const {
  return root_ + u'/' + QString::fromStdString(zorv::safeLogName(network_)) + u'/' +
         QString::fromStdString(zorv::safeLogName(window)) + QStringLiteral(".log");
}

void Logbook::setNetwork(const std::string& network) {
  if (network == network_) return;
  flush();
  while (!logs_.empty()) dropLog(logs_.begin()->second.get());
  names_.clear();
  network_ = network;
}

// A window's log, found by its name; a window seen for the first time gets
// its path made and its file opened (names that differ only in case share
// one file and so one buffer, which keeps their lines in order).
Logbook::Log* Logbook::findLog(const std::string& window) {
  auto named = names_.find(window);
  if (named == names_.end()) {
    std::string path = pathFor(window).toStdString();
    Log* log = nullptr;
    if (auto it = logs_.find(path); it != logs_.end()) {
      log = it->second.get();
    } else if (!failed_.count(path)) {
      auto made = std::make_unique<Log>();
      made->path = path;
      if (open(*made)) {
        log = logs_.emplace(std::move(path), std::move(made)).first->second.get();
        mark(*log, "BEGIN");
      }
    }
    named = names_.emplace(window, log).first;
  }
  lastName_ = window;
  lastLog_ = named->second;
  return lastLog_;
}

bool Logbook::open(Log& log) {
  const QString path = QString::fromStdString(log.path);
  const QString dir = QFileInfo(path).path();
  if (!QDir().mkpath(dir)) {
    failed_.insert(log.path);
    report(dir, QStringLiteral("the folder cannot be made"));
    return false;
  }
  auto file = std::make_unique<QFile>(path);
  if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
    failed_.insert(log.path);
    report(dir, file->errorString());
    return false;
  }
  if (open_.size() >= static_cast<std::size_t>(kOpenLimit)) closeFile(*open_.front());
  log.file = std::move(file);
  log.age = open_.insert(open_.end(), &log);
  return true;
}

void Logbook::closeFile(Log& log) {
  if (!log.file) return;
  open_.erase(log.age);
  log.file.reset();
}

// Room for a line of size bytes: the block grows by doubling up to
// kWriteAtOnce (or to one line longer than that); a full block is written first.
void Logbook::makeRoom(Log& log, std::size_t size) {
  if (log.used > 0 && log.used + size > kWriteAtOnce) write(log, false);
  if (log.used + size <= log.room) return;
  std::size_t room = std::max<std::size_t>(log.room * 2, kFirstRoom);
  room = std::max(std::min(room, kWriteAtOnce), log.used + size);
  std::unique_ptr<char[]> bytes(new char[room]);
  if (log.used > 0) std::memcpy(bytes.get(), log.bytes.get(), log.used);
  log.bytes = std::move(bytes);
  log.room = room;
}

// Writes a log's pending lines, opening its file again if it was closed to
// make room for others; release gives a large block's memory back. The block
// counts as empty before anything is written: an error said here becomes a
// line shown, and logged, perhaps into this same log.
void Logbook::write(Log& log, bool release) {
  if (log.used > 0) {
    const auto size = static_cast<qint64>(std::exchange(log.used, 0));  // lines that cannot be written are not kept
    if (log.file) {
      open_.splice(open_.end(), open_, log.age);
      if (log.file->write(log.bytes.get(), size) != size) report(QFileInfo(*log.file).path(), log.file->errorString());
    } else if (open(log) && log.file->write(log.bytes.get(), size) != size) {
      report(QFileInfo(*log.file).path(), log.file->errorString());
    }
  }
  if (release && log.used == 0 && log.room > kKeptRoom) {
    log.bytes.reset();
    log.room = 0;
  }
}

void Logbook::flush() { writeAll(false); }

void Logbook::flushTimeout() {
  flushArmed_ = false;
  writeAll(true);
}

// An error said while writing is shown in a window, whose line may make a new
// log: the logs are walked from a list taken first.
void Logbook::writeAll(bool release) {
  std::vector<Log*> all;
  all.reserve(logs_.size());
  for (auto& [path, log] : logs_)
    if (log->used > 0 || (release && log->room > kKeptRoom)) all.push_back(log.get());
  for (Log* log : all) write(*log, release);
}

void Logbook::armFlush() {
  flushArmed_ = true;
  flushTimer_.start();
}

void Logbook::close(const std::string& window) {
  const std::string path = pathFor(window).toStdString();
  if (auto it = logs_.find(path); it != logs_.end()) dropLog(it->second.get());
  names_.erase(window);
}

// Writes a log, closes its file and forgets it, and every window name that led to it.
void Logbook::dropLog(Log* log) {
  mark(*log, "ENDING");
  write(*log, false);
  closeFile(*log);
  for (auto it = names_.begin(); it != names_.end();) it = it->second == log ? names_.erase(it) : std::next(it);
  if (lastLog_ == log) {
    lastLog_ = nullptr;
    lastName_.clear();
  }
  logs_.erase(log->path);
}

void Logbook::mark(Log& log, std::string_view what) {
  const std::string& time = stamp();  // "[yyyy-MM-dd HH:mm:ss] "
  std::string head = "**** ";
  head.append(what).append(" LOGGING AT ");
  put(log, head, std::string_view(time).substr(1, time.size() - 3));
}

const std::string& Logbook::stampAt(const QDateTime& time) {
  const qint64 second = time.toSecsSinceEpoch();
  if (second != stampSecond_) {
    stampSecond_ = static_cast<std::time_t>(second);
    stamp_ = time.toString(QStringLiteral("[yyyy-MM-dd HH:mm:ss] ")).toStdString();
  }
  return stamp_;
}

// The local date and time of a second of the wall clock: converting to local
// time reads the time zone (a file look-up), so it is done once a second, not
// once a line.
void Logbook::makeStamp(std::time_t second) {
  stampSecond_ = second;
  stamp_ = QDateTime::fromSecsSinceEpoch(second).toString(QStringLiteral("[yyyy-MM-dd HH:mm:ss] ")).toStdString();
}

void Logbook::report(const QString& dir, const QString& reason) {
  // Said once per folder; the line itself goes to a window, whose log may be
  // in the same folder, so the folder is marked first.
  if (!reported_.insert(dir.toStdString()).second) return;
  if (onError_) onError_("*** Cannot write logs to " + dir.toStdString() + ": " + reason.toStdString());
}
