#pragma once
// TIniOut keeps named properties of named objects of a window in a profile file.
//
// Each item line names an object, one of its properties, a default text, a
// section and a key ("EditNick;Text;YourNick;User Info;Nick;1;0"). LoadProperties
// reads every item's value from the file (or takes the default) and sets the
// property; SaveProperties writes every property's text back.
//
// Properties are found through Qt's meta-object system: an object is a QObject
// found below the window (its QObject parent) by objectName, ignoring letter case;
// a property is a Q_PROPERTY found by name ignoring letter case. A few property
// names of the older toolkit are mapped to Qt's (Caption -> text, then
// windowTitle). How each kind of property turns into text:
//   integer      decimal; a property of type TColor uses the Qt::GlobalColor names
//                for the colours that have one ("red", "darkGray"), a property of
//                type TCursor the Qt::CursorShape names ("IBeamCursor")
//   character    QChar (or char): the character
//   enumeration  Q_ENUM: the value's name; bool: "1"/"0", read as true when the
//                text begins with 1, T, Y, t or y
//   float        double/float, shortest text that reads back the same value
//   string       QString
//   string list  QStringList: the lines joined with "|"
//   set          Q_FLAG: "[a,b]", the members present in declaration order
//   class        a QObject pointer: the name of an object of the window, or, for an
//                object owned by the property's holder (its QObject parent is the
//                holder, like a font of a control), all of that object's properties
//                joined with "|"
//   method       TMethod: the name of the window's method the property is bound to
#include <QMetaProperty>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Integer property types whose text is a name where one exists. Declare a
// property as TColor (a 0xRRGGBB value) or TCursor (a Qt::CursorShape value).
enum class TColor : int {};
enum class TCursor : int {};

// A handler bound by name: the method Code (an index into Data's meta-object; a
// slot or Q_INVOKABLE without arguments) of the object Data. A property of this
// type is kept as the method's name.
struct TMethod {
  QPointer<QObject> Data;
  int Code = -1;

  bool isBound() const { return Data && Code >= 0; }
  QByteArray name() const;  // empty when not bound
  bool invoke() const;      // calls the method; false when not bound
};
Q_DECLARE_METATYPE(TMethod)

class TIniOut : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString FileName READ FileName WRITE setFileName)
  Q_PROPERTY(QStringList Items READ Items WRITE setItems)
  Q_PROPERTY(TRegRoots RegistryRoot READ RegistryRoot WRITE setRegistryRoot)

 public:
  // Stored with the component only; settings always go to the profile file.
  enum TRegRoots { CLASSES_ROOT, CURRENT_USER, LOCAL_MACHINE, USERS, PERFORMANCE_DATA, CURRENT_CONFIG, DYN_DATA };
  Q_ENUM(TRegRoots)

  // The owner is the window whose objects the items name.
  explicit TIniOut(QObject* owner = nullptr);

  const QString& FileName() const { return fileName_; }
  // Upper-cases the file name part (ASCII letters) and replaces its extension by
  // ".INI" (adds it when there is none); the directory part is kept as given,
  // since names are case-sensitive here. "/x/y/Zorv.ini" becomes "/x/y/ZORV.INI".
  void setFileName(const QString& name);

  const QStringList& Items() const { return items_; }
  void setItems(const QStringList& items) { items_ = items; }

  TRegRoots RegistryRoot() const { return registryRoot_; }
  void setRegistryRoot(TRegRoots root) { registryRoot_ = root; }

  // Sets every item's property from the file, or from the item's default when the
  // file, section or key is missing. Items whose object or property is unknown are
  // skipped. An empty FileName shows "No INI Filename Specified." and does nothing.
  // Returns false when the file exists but could not be read (the defaults are
  // used then; LastError() says why).
  bool LoadProperties();

  // Writes every item's property text to the file (items with a seventh field "1"
  // are not saved), replacing the file at once. Returns false when the settings
  // could not all be saved; LastError() then holds a message for the user. For an
  // empty FileName the message box is shown here and LastError() stays empty.
  bool SaveProperties();

  // Whether the file holds secrets: SaveProperties then leaves it readable
  // and writable by its owner only.
  bool PrivateFile() const { return privateFile_; }
  void setPrivateFile(bool on) { privateFile_ = on; }

  // Why the last load or save failed, ready to show ("Cannot save settings to
  // <path>: <reason>"); empty after success.
  const QString& LastError() const { return lastError_; }

  // Removes all characters of code 0 to 32 from both ends.
  static QString Trim(const QString& text);
  // Field index (from 0) of text split at sep, trimmed; empty past the last field.
  static QString GetField(const QString& text, int index, QChar sep);

  // The text of property P of O, or of all of O's own properties (those below
  // QObject's) joined with "|" when P is invalid.
  QString PropertyToText(const QObject* O, const QMetaProperty& P = QMetaProperty()) const;
  // Sets property P of O from T, or all of O's own properties from the
  // "|"-separated fields of T when P is invalid. A text that does not convert
  // leaves that property unchanged.
  void TextToProperty(QObject* O, const QMetaProperty& P, const QString& T);

  // The object an item's first field names: the window itself or an object below
  // it, names compared ignoring ASCII case; nullptr when there is none.
  QObject* FindTarget(const QString& name) const;
  // The property of O named name (ignoring letter case, the class before its
  // ancestors, then the aliases); invalid when there is none.
  static QMetaProperty FindProperty(const QObject* O, const QString& name);

 private:
  // One line of Items: the object and property it names, the default text,
  // the section and key in the file, and whether it is only loaded (a
  // seventh field "1"; the sixth is not read).
  struct Item {
    QString object, property, defaultText, section, key;
    bool loadOnly = false;
  };
  // Calls visit for every item whose object and property exist, in order;
  // lines with neither object, property, section nor key are skipped.
  void forEachItem(const std::function<void(const Item&, QObject* target, const QMetaProperty& prop)>& visit) const;
  void setOne(QObject* O, const QMetaProperty& P, const QString& V, bool single);
  // A property that holds an object: the object of the window V names; or,
  // for an object the holder owns, its properties are set from V instead.
  std::optional<QVariant> objectFromText(QObject* O, const QMetaProperty& P, const QString& V, bool single);
  // A handler property: the window's method V names.
  std::optional<QVariant> methodFromText(const QString& V, bool single) const;

  QString fileName_;
  QStringList items_;
  TRegRoots registryRoot_ = CURRENT_USER;
  QString lastError_;
  bool privateFile_ = false;
};

namespace zorv {

// The IRC server a new user starts with.
inline constexpr const char* kDefaultServer = "irc.libera.chat";

// Sets up the main window's settings component: the five items (nickname,
// server and port in "User Info", font name and size in "Client Info") and the
// file ZORV.INI in programDir.
void ConfigureMainSettings(TIniOut& ini, const QString& programDir);

}  // namespace zorv
