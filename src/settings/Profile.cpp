#include "Profile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "Text.h"

namespace zorv {
namespace {

QString fold(const QString& name) { return name.toCaseFolded(); }

std::string utf8(const QString& s) { return fromInput(s); }

bool isBlank(const std::string& line) { return trimControls(line).empty(); }

// The name of a "[name]" header (text up to the first "]", or to the line's end).
bool sectionName(std::string_view line, QString* name) {
  std::string_view t = trimControls(line);
  if (t.empty() || t[0] != '[') return false;
  t.remove_prefix(1);
  const size_t close = t.find(']');
  if (close != std::string_view::npos) t = t.substr(0, close);
  *name = toDisplay(trimControls(t));
  return true;
}

// The key of a "key=value" line; false for comments and lines without "=".
bool keyName(std::string_view line, QString* key) {
  const std::string_view t = trimControls(line);
  if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') return false;
  const size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  *key = toDisplay(trimControls(t.substr(0, eq)));
  return true;
}

QString cut(QString v) {
  if (v.size() <= kProfileValueLimit) return v;
  qsizetype n = kProfileValueLimit;
  if (v[n - 1].isHighSurrogate()) --n;  // never split a character in two
  v.truncate(n);
  return v;
}

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

bool writeAll(int fd, const QByteArray& data) {
  const char* p = data.constData();
  qsizetype left = data.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= n;
  }
  return true;
}

}  // namespace

ProfileFile::ProfileFile(QString path) : path_(std::move(path)) { sections_.resize(1); }

void ProfileFile::clear() {
  sections_.assign(1, Section{});
  sectionIndex_.clear();
  eol_ = "\n";
  bom_ = false;
  modified_ = false;
  readable_ = true;
  error_.clear();
}

void ProfileFile::loadContents(const QByteArray& data) {
  clear();
  parse(data);
}

bool ProfileFile::load() {
  clear();
  const QFileInfo info(path_);
  if (!info.exists()) return true;
  QFile f(path_);
  if (info.isDir()) {
    error_ = QStringLiteral("Is a directory");
  } else if (!f.open(QIODevice::ReadOnly)) {
    error_ = f.errorString();
  } else {
    const QByteArray data = f.read(kProfileFileLimit + 1);
    if (f.error() != QFileDevice::NoError)
      error_ = f.errorString();
    else if (data.size() > kProfileFileLimit)
      error_ = QStringLiteral("The file is too large to be a settings file");
    else
      parse(data);
  }
  readable_ = error_.isEmpty();
  return readable_;
}

void ProfileFile::parse(const QByteArray& raw) {
  std::string_view data(raw.constData(), static_cast<size_t>(raw.size()));
  if (data.substr(0, 3) == "\xEF\xBB\xBF") {
    bom_ = true;
    data.remove_prefix(3);
  }
  const size_t firstLf = data.find('\n');
  eol_ = (firstLf != std::string_view::npos && firstLf > 0 && data[firstLf - 1] == '\r') ? "\r\n" : "\n";
  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find('\n', pos);
    const size_t next = end == std::string_view::npos ? data.size() : end + 1;
    if (end == std::string_view::npos) end = data.size();
    if (end > pos && data[end - 1] == '\r') --end;
    const std::string_view line = data.substr(pos, end - pos);
    pos = next;
    QString name;
    if (sectionName(line, &name)) {
      sections_.push_back(Section{std::string(line), {}, {}});
      // A repeated section is kept in the file, but the first one answers.
      const QString k = fold(name);
      if (!sectionIndex_.contains(k)) sectionIndex_.insert(k, static_cast<int>(sections_.size() - 1));
      continue;
    }
    Section& s = sections_.back();
    s.lines.emplace_back(line);
    if (sections_.size() > 1) indexKey(s, static_cast<int>(s.lines.size() - 1));
  }
}

void ProfileFile::indexKey(Section& s, int line) {
  QString key;
  if (keyName(s.lines[static_cast<size_t>(line)], &key)) {
    const QString k = fold(key);
    if (!s.keys.contains(k)) s.keys.insert(k, line);
  }
}

QString ProfileFile::value(const QString& section, const QString& key, const QString& defaultValue) const {
  const auto sit = sectionIndex_.constFind(fold(trimmedText(section)));
  if (sit == sectionIndex_.cend()) return cut(defaultValue);
  const Section& s = sections_[static_cast<size_t>(*sit)];
  const auto kit = s.keys.constFind(fold(trimmedText(key)));
  if (kit == s.keys.cend()) return cut(defaultValue);
  const std::string_view line = s.lines[static_cast<size_t>(*kit)];
  return cut(toDisplay(trimControls(line.substr(line.find('=') + 1))));
}

bool ProfileFile::setValue(const QString& section, const QString& key, const QString& value) {
  const QString sec = trimmedText(section);
  const QString k = trimmedText(key);
  auto hasBreak = [](const QString& s) { return s.contains(u'\n') || s.contains(u'\r'); };
  if (hasBreak(sec) || hasBreak(k) || hasBreak(value) || sec.contains(u']') || k.contains(u'=') ||
      k.startsWith(u';') || k.startsWith(u'#') || k.startsWith(u'[')) {
    return false;
  }
  // A name the file cannot spell (a lone surrogate, say) would be written as
  // something else and never be found again: refuse it rather than lose it.
  QString readBack;
  if (!sectionName("[" + utf8(sec) + "]", &readBack) || readBack != sec) return false;
  if (!keyName(utf8(k) + "=", &readBack) || readBack != k) return false;
  int si;
  const auto sit = sectionIndex_.constFind(fold(sec));
  if (sit != sectionIndex_.cend()) {
    si = *sit;
  } else {
    // A blank line between the old end of the file and the new section.
    Section& last = sections_.back();
    if (!last.lines.empty() ? !isBlank(last.lines.back()) : sections_.size() > 1)
      last.lines.emplace_back();
    sections_.push_back(Section{"[" + utf8(sec) + "]", {}, {}});
    si = static_cast<int>(sections_.size() - 1);
    sectionIndex_.insert(fold(sec), si);
    modified_ = true;
  }
  Section& s = sections_[static_cast<size_t>(si)];
  const auto kit = s.keys.constFind(fold(k));
  if (kit != s.keys.cend()) {
    std::string& line = s.lines[static_cast<size_t>(*kit)];
    const size_t eq = line.find('=');
    if (toDisplay(trimControls(std::string_view(line).substr(eq + 1))) == value) return true;  // line stays as it is
    line = std::string(trimControls(std::string_view(line).substr(0, eq))) + "=" + utf8(value);  // key as the file spells it
    modified_ = true;
    return true;
  }
  // After the section's last line that is not blank; only blank lines follow
  // that place, so the indexes of the keys stay valid.
  size_t at = s.lines.size();
  while (at > 0 && isBlank(s.lines[at - 1])) --at;
  s.lines.insert(s.lines.begin() + static_cast<std::ptrdiff_t>(at), utf8(k) + "=" + utf8(value));
  s.keys.insert(fold(k), static_cast<int>(at));
  modified_ = true;
  return true;
}

QByteArray ProfileFile::serialize() const {
  QByteArray out;
  if (bom_) out += "\xEF\xBB\xBF";
  for (size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    if (i > 0) {
      out.append(s.header.data(), static_cast<qsizetype>(s.header.size()));
      out.append(eol_.data(), static_cast<qsizetype>(eol_.size()));
    }
    for (const std::string& line : s.lines) {
      out.append(line.data(), static_cast<qsizetype>(line.size()));
      out.append(eol_.data(), static_cast<qsizetype>(eol_.size()));
    }
  }
  return out;
}

bool ProfileFile::save() {
  if (!modified_ && !private_) return true;
  if (!readable_) return !modified_;  // error_ still says why the old file could not be read
  QString target = path_;
  const QFileInfo info(path_);
  if (info.isSymLink()) target = info.symLinkTarget();  // replace the file, not the link
  const QFileInfo targetInfo(target);
  if (!modified_) {
    // An unchanged private file is still closed to others.
    struct stat st {};
    const QByteArray name = QFile::encodeName(targetInfo.absoluteFilePath());
    if (private_ && ::stat(name.constData(), &st) == 0 && (st.st_mode & 077) != 0 &&
        ::chmod(name.constData(), st.st_mode & 07700) != 0) {
      error_ = errnoText(errno);
      return false;
    }
    return true;
  }
  QByteArray tmp = QFile::encodeName(targetInfo.absolutePath() + "/." + targetInfo.fileName() + ".XXXXXX");
  const QByteArray dest = QFile::encodeName(targetInfo.absoluteFilePath());

  int fd = ::mkstemp(tmp.data());
  if (fd < 0) {
    error_ = errnoText(errno);
    return false;
  }
  // The new file gets the old one's permissions, or the usual ones for a new file.
  struct stat st {};
  mode_t mode;
  if (::stat(dest.constData(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (private_) mode &= 07700;
  bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, serialize()) && ::fsync(fd) == 0;
  int err = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(tmp.constData(), dest.constData()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tmp.constData());
    error_ = errnoText(err);
    return false;
  }
  // Make the rename itself durable.
  const int dirFd = ::open(QFile::encodeName(targetInfo.absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  modified_ = false;
  error_.clear();
  return true;
}

QString readProfileString(const QString& section, const QString& key, const QString& defaultValue,
                          const QString& fileName) {
  ProfileFile f(fileName);
  f.load();  // an unreadable file answers with the defaults
  return f.value(section, key, defaultValue);
}

bool writeProfileString(const QString& section, const QString& key, const QString& value,
                        const QString& fileName, QString* error) {
  ProfileFile f(fileName);
  if (!f.load()) {
    if (error) *error = f.error();
    return false;
  }
  if (!f.setValue(section, key, value)) {
    if (error) *error = QStringLiteral("A line break, or a name that reads as something else");
    return false;
  }
  if (!f.save()) {
    if (error) *error = f.error();
    return false;
  }
  return true;
}

}  // namespace zorv
