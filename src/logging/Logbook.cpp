#include "Logbook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "LogNames.h"

namespace {
constexpr std::size_t kWriteAtOnce = 64 * 1024;  // pending bytes that are written at once
}

Logbook::Logbook(QString root, QObject* parent)
    : QObject(parent), root_(std::move(root)), clock_([] { return QDateTime::currentDateTime(); }) {
  flushTimer_.setSingleShot(true);
  flushTimer_.setInterval(kFlushMs);
  connect(&flushTimer_, &QTimer::timeout, this, [this] { flush(); });
}

Logbook::~Logbook() { flush(); }

QString Logbook::defaultRoot() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/zorv/logs");
}

QString Logbook::pathFor(const std::string& window) const {
  return root_ + u'/' + QString::fromStdString(zorv::safeLogName(network_)) + u'/' +
         QString::fromStdString(zorv::safeLogName(window)) + QStringLiteral(".log");
}

void Logbook::append(const std::string& window, const std::string& text) {
  if (!enabled_) return;
  Open* open = openFor(keyFor(window));
  if (!open) return;
  open->pending += stamp();
  open->pending += text;
  open->pending += '\n';
  if (open->pending.size() >= kWriteAtOnce) write(*open);
  if (!flushTimer_.isActive()) flushTimer_.start();
}

// The path of a window's file, made once per window and network: every line
// shown comes through here.
const std::string& Logbook::keyFor(const std::string& window) {
  auto it = keys_.find(window);
  if (it == keys_.end()) it = keys_.emplace(window, pathFor(window).toStdString()).first;
  return it->second;
}

Logbook::Open* Logbook::openFor(const std::string& key) {
  if (auto it = open_.find(key); it != open_.end()) {
    lru_.splice(lru_.end(), lru_, it->second.age);
    return &it->second;
  }
  if (failed_.count(key)) return nullptr;
  const QString path = QString::fromStdString(key);
  const QString dir = QFileInfo(path).path();
  auto file = std::make_unique<QFile>(path);
  if (!QDir().mkpath(dir)) {
    report(dir, QStringLiteral("the folder cannot be made"));
    failed_.insert(key);
    return nullptr;
  }
  if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
    failed_.insert(key);
    report(dir, file->errorString());
    return nullptr;
  }
  if (open_.size() >= static_cast<std::size_t>(kOpenLimit)) closeKey(lru_.front());
  lru_.push_back(key);
  Open& open = open_[key];
  open.file = std::move(file);
  open.age = std::prev(lru_.end());
  return &open;
}

void Logbook::write(Open& open) {
  if (open.pending.empty()) return;
  const auto size = static_cast<qint64>(open.pending.size());
  const bool ok = open.file->write(open.pending.data(), size) == size && open.file->flush();
  open.pending.clear();
  if (!ok) report(QFileInfo(*open.file).path(), open.file->errorString());
}

void Logbook::flush() {
  for (auto& [key, open] : open_) write(open);
}

void Logbook::close(const std::string& window) {
  closeKey(keyFor(window));
  keys_.erase(window);
}

void Logbook::closeKey(const std::string& key) {
  auto it = open_.find(key);
  if (it == open_.end()) return;
  write(it->second);
  lru_.erase(it->second.age);
  open_.erase(it);
}

const std::string& Logbook::stamp() {
  const QDateTime now = clock_();
  const qint64 second = now.toSecsSinceEpoch();
  if (second != stampSecond_) {
    stampSecond_ = second;
    stamp_ = now.toString(QStringLiteral("[yyyy-MM-dd HH:mm:ss] ")).toStdString();
  }
  return stamp_;
}

void Logbook::report(const QString& dir, const QString& reason) {
  // Said once per folder; the line itself goes to a window, whose log may be
  // in the same folder, so the folder is marked first.
  if (!reported_.insert(dir.toStdString()).second) return;
  if (onError_) onError_("*** Cannot write logs to " + dir.toStdString() + ": " + reason.toStdString());
}
