#include "SettingsLocation.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef ZORV_INSTALL_BINDIR
#define ZORV_INSTALL_BINDIR ""
#endif

namespace {

// Creates dir and its missing parents with the given mode; true when dir exists after.
bool makePath(const QString& dir, mode_t mode) {
  const QByteArray path = QFile::encodeName(QDir::cleanPath(dir));
  for (qsizetype i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    const QByteArray part = path.left(i);
    if (::mkdir(part.constData(), mode) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool sameFolder(const QString& a, const QString& b) {
  if (a.isEmpty() || b.isEmpty()) return false;
  const QString ca = QFileInfo(a).canonicalFilePath();
  const QString cb = QFileInfo(b).canonicalFilePath();
  return !ca.isEmpty() && ca == cb;
}

QString homeFolder() {
  const QString home = qEnvironmentVariable("HOME");
  if (!home.isEmpty()) return home;
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir) return QFile::decodeName(pw->pw_dir);
  return {};
}

}  // namespace

namespace zorv {

QString UserConfigHome(const QString& xdgConfigHome, const QString& home) {
  if (xdgConfigHome.startsWith(u'/')) return QDir::cleanPath(xdgConfigHome);
  if (home.startsWith(u'/')) return QDir::cleanPath(home + QStringLiteral("/.config"));
  return {};
}

bool CanMakeFilesIn(const QString& dir) {
  if (dir.isEmpty()) return false;
  const QByteArray path = QFile::encodeName(dir);
  if (::access(path.constData(), W_OK | X_OK) != 0) return false;
  QByteArray probe = path + "/.zorv-probe-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.constData());
  return true;
}

QString SettingsDirectory(const SettingsPlaces& places) {
  const bool installed = sameFolder(places.programDir, places.installBinDir);
  if (!installed && CanMakeFilesIn(places.programDir)) return places.programDir;
  const QString configHome = UserConfigHome(places.xdgConfigHome, places.home);
  if (configHome.isEmpty()) return places.programDir;
  const QString dir = configHome + QStringLiteral("/zorv");
  makePath(dir, 0700);
  return dir;
}

QString SettingsDirectory(const QString& programDir) {
  return SettingsDirectory({programDir, QString::fromUtf8(ZORV_INSTALL_BINDIR),
                            qEnvironmentVariable("XDG_CONFIG_HOME"), homeFolder()});
}

}  // namespace zorv
