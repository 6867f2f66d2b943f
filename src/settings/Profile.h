#pragma once
// Profile (INI) files: "key=value" lines under "[section]" headers.
//
// Sections and keys are matched ignoring letter case; the first section and the
// first key of a given name win. Lines the reader does not understand (comments,
// blank lines, lines without "=", lines before the first section, unknown
// sections) are kept byte for byte when the file is rewritten. CR LF and LF line
// ends are both read; a rewrite keeps the line end the file already uses, and a
// new file gets LF, the native line end here. Values are read as UTF-8 when a
// line is valid UTF-8 and as Latin-1 otherwise (files written by the older
// program are ANSI); they are written as UTF-8.
//
// A save never leaves a half-written file: the new contents go to a temporary
// file beside the old one, which is flushed to disk and then renamed over it.
#include <QHash>
#include <QString>
#include <string>
#include <vector>

namespace zorv {

// Longest value a read returns; longer values are cut.
inline constexpr int kProfileValueLimit = 1023;
// Files larger than this are not settings files; they are not read (nor replaced).
inline constexpr qint64 kProfileFileLimit = 64 * 1024 * 1024;

// One profile file read once, answering reads and taking writes in memory, then
// saved at once.
class ProfileFile {
 public:
  explicit ProfileFile(QString path);

  // Reads the file. A missing file counts as an empty one. Returns false when the
  // file exists but cannot be read (error() says why); save() then refuses to
  // replace it, so that the user's settings are not lost.
  bool load();
  // Takes the file's contents from memory instead of from the file.
  void loadContents(const QByteArray& data);
  // The contents save() writes.
  QByteArray contents() const { return serialize(); }

  // The value of key in section (surrounding blanks removed, cut to
  // kProfileValueLimit characters), or defaultValue when the section or the key
  // is missing.
  QString value(const QString& section, const QString& key, const QString& defaultValue) const;

  // Sets key in section, adding the section (at the end) and the key (after the
  // section's last line that is not blank) as needed. Returns false, changing
  // nothing, for a name or value that the file's layout cannot hold (a line break
  // anywhere, "=" in the key, "]" in the section, a key that would read as a
  // comment or section header).
  bool setValue(const QString& section, const QString& key, const QString& value);

  // Writes the file when something changed (atomically, see above). Returns false
  // on failure with the reason in error(); the old file is then untouched.
  bool save();

  // A file that holds secrets: save() leaves it readable and writable by its
  // owner only (the group and other permission bits taken away), also when
  // nothing changed.
  void setPrivate(bool on) { private_ = on; }

  bool modified() const { return modified_; }
  const QString& path() const { return path_; }
  const QString& error() const { return error_; }

 private:
  struct Section {
    std::string header;              // raw header line; empty for the lines before any section
    std::vector<std::string> lines;  // raw lines after the header, without line ends
    QHash<QString, int> keys;        // case-folded key -> index into lines (first one)
  };

  void clear();
  void parse(const QByteArray& data);
  void indexKey(Section& s, int line);
  QByteArray serialize() const;

  QString path_;
  QString error_;
  std::vector<Section> sections_;       // [0] holds the lines before the first section
  QHash<QString, int> sectionIndex_;    // case-folded name -> first section of that name
  std::string eol_ = "\n";
  bool bom_ = false;
  bool readable_ = true;
  bool modified_ = false;
  bool private_ = false;
};

// Reads one value (GetPrivateProfileString): defaultValue when the file, the
// section or the key is missing or the file cannot be read; cut to 1023 characters.
QString readProfileString(const QString& section, const QString& key,
                          const QString& defaultValue, const QString& fileName);

// Writes one value (WritePrivateProfileString), creating the file, the section and
// the key as needed. Returns false on failure, with the reason in *error if given.
bool writeProfileString(const QString& section, const QString& key, const QString& value,
                        const QString& fileName, QString* error = nullptr);

}  // namespace zorv
