#pragma once
// Which folder keeps the settings file: the program's own folder when the
// program may write there, otherwise the user's configuration folder.
#include <QString>

namespace zorv {

// The user's configuration home: $XDG_CONFIG_HOME when it is an absolute
// path, otherwise home + "/.config"; empty when home is not known either.
QString UserConfigHome(const QString& xdgConfigHome, const QString& home);

// True when this process can make files in dir: the system grants write
// access and a probe file can really be created and removed there. The probe
// matters for root, whom the permission check lets through even where the
// file system refuses (read-only mounts, /proc).
bool CanMakeFilesIn(const QString& dir);

struct SettingsPlaces {
  QString programDir;     // the folder of the running program
  QString installBinDir;  // where an installation puts the program ("" when unknown)
  QString xdgConfigHome;  // $XDG_CONFIG_HOME as set ("" when unset)
  QString home;           // the user's home folder
};

// The folder for ZORV.INI. The program folder when files can be made there
// and it is not the installation's program folder (an installed copy never
// writes beside itself, not even when root runs it); otherwise
// <configuration home>/zorv, created (mode 0700) when missing. Failing to
// create it is not reported here: the save that follows reports it. With no
// configuration home at all, the program folder.
QString SettingsDirectory(const SettingsPlaces& places);

// The same for this process: the installation folder it was built for and
// $XDG_CONFIG_HOME and $HOME (or the password database) from the environment.
QString SettingsDirectory(const QString& programDir);

}  // namespace zorv
