#include "IniOut.h"

#include <QMetaEnum>
#include <climits>
#include <cstring>
#include <limits>
#include <exception>
#include <optional>

#include "MessageBox.h"
#include "Profile.h"
#include "Text.h"

namespace {

enum class Kind { Integer, Char, Enum, Bool, Float, String, StringList, Set, Class, Method, Other };

Kind kindOf(const QMetaProperty& p) {
  const QMetaType t = p.metaType();
  if (t == QMetaType::fromType<TMethod>()) return Kind::Method;
  if (t.flags() & QMetaType::PointerToQObject) return Kind::Class;
  if (p.isFlagType()) return Kind::Set;
  if (p.isEnumType()) return Kind::Enum;
  switch (t.id()) {
    case QMetaType::QChar:
    case QMetaType::Char: return Kind::Char;
    case QMetaType::Bool: return Kind::Bool;
    case QMetaType::Double:
    case QMetaType::Float: return Kind::Float;
    case QMetaType::QString: return Kind::String;
    case QMetaType::QStringList: return Kind::StringList;
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::Long: case QMetaType::ULong:
    case QMetaType::LongLong: case QMetaType::ULongLong: case QMetaType::Short:
    case QMetaType::UShort: case QMetaType::SChar: case QMetaType::UChar: return Kind::Integer;
    default: break;
  }
  // Enumerations without Q_ENUM (TColor, TCursor) are plain integers.
  if (t.flags() & QMetaType::IsEnumeration) return Kind::Integer;
  return Kind::Other;
}

// Integers, enumerations and flags are read and written through their storage,
// whatever their size, so that no conversion between types can go wrong.
bool isUnsigned(QMetaType t) {
  switch (t.id()) {
    case QMetaType::UInt: case QMetaType::ULong: case QMetaType::ULongLong:
    case QMetaType::UShort: case QMetaType::UChar: return true;
    default: return (t.flags() & QMetaType::IsUnsignedEnumeration) != 0;
  }
}

std::optional<qint64> readIntegral(const QVariant& v) {
  const void* d = v.constData();
  const bool u = isUnsigned(v.metaType());
  switch (v.metaType().sizeOf()) {
    case 1: return u ? qint64(*static_cast<const quint8*>(d)) : qint64(*static_cast<const qint8*>(d));
    case 2: return u ? qint64(*static_cast<const quint16*>(d)) : qint64(*static_cast<const qint16*>(d));
    case 4: return u ? qint64(*static_cast<const quint32*>(d)) : qint64(*static_cast<const qint32*>(d));
    case 8: return *static_cast<const qint64*>(d);
    default: return std::nullopt;
  }
}

template <typename S, typename U>
std::optional<QVariant> storeAs(QMetaType t, qint64 v, bool u) {
  if (u ? (v < 0 || quint64(v) > quint64(std::numeric_limits<U>::max()))
        : (v < std::numeric_limits<S>::min() || v > std::numeric_limits<S>::max()))
    return std::nullopt;
  const S x = static_cast<S>(v);
  return QVariant(t, &x);
}

std::optional<QVariant> makeIntegral(QMetaType t, qint64 v) {
  const bool u = isUnsigned(t);
  switch (t.sizeOf()) {
    case 1: return storeAs<qint8, quint8>(t, v, u);
    case 2: return storeAs<qint16, quint16>(t, v, u);
    case 4: return storeAs<qint32, quint32>(t, v, u);
    case 8: return storeAs<qint64, qint64>(t, v, u);
    default: return std::nullopt;
  }
}

// Decimal, or hexadecimal after "$" or "0x".
std::optional<qint64> parseInteger(const QString& s) {
  bool ok = false;
  qint64 v;
  if (s.startsWith(u'$'))
    v = s.mid(1).toLongLong(&ok, 16);
  else if (s.startsWith(u"0x", Qt::CaseInsensitive))
    v = s.mid(2).toLongLong(&ok, 16);
  else
    v = s.toLongLong(&ok, 10);
  return ok ? std::optional<qint64>(v) : std::nullopt;
}

// The colours of Qt::GlobalColor that have a fixed value, as 0xRRGGBB.
struct NamedColor {
  const char* name;
  qint64 rgb;
};
constexpr NamedColor kColors[] = {
    {"black", 0x000000},     {"white", 0xffffff},       {"darkGray", 0x808080},  {"gray", 0xa0a0a4},
    {"lightGray", 0xc0c0c0}, {"red", 0xff0000},         {"green", 0x00ff00},     {"blue", 0x0000ff},
    {"cyan", 0x00ffff},      {"magenta", 0xff00ff},     {"yellow", 0xffff00},    {"darkRed", 0x800000},
    {"darkGreen", 0x008000}, {"darkBlue", 0x000080},    {"darkCyan", 0x008080},  {"darkMagenta", 0x800080},
    {"darkYellow", 0x808000},
};

// The value of the key named name, ignoring ASCII case.
std::optional<int> enumValue(const QMetaEnum& e, const QString& name) {
  for (int i = 0; i < e.keyCount(); ++i)
    if (zorv::sameTextAscii(QString::fromLatin1(e.key(i)), name)) return e.value(i);
  return std::nullopt;
}

bool singleBit(int v) { return v != 0 && (v & (v - 1)) == 0; }

QObject* objectOf(const QVariant& v) {
  if (!(v.metaType().flags() & QMetaType::PointerToQObject)) return nullptr;
  return *static_cast<QObject* const*>(v.constData());
}

// An object below w named name (ignoring ASCII case); never an unnamed one.
QObject* findOwned(const QObject* w, const QString& name) {
  if (!w || name.isEmpty()) return nullptr;
  if (QObject* exact = w->findChild<QObject*>(name)) return exact;
  const auto all = w->findChildren<QObject*>();
  for (QObject* o : all)
    if (zorv::sameTextAscii(o->objectName(), name)) return o;
  return nullptr;
}

// The properties an object lists when no single one is asked for: its readable
// ones declared below QObject (objectName is not one of them), in declaration order.
QList<QMetaProperty> ownProperties(const QObject* o) {
  QList<QMetaProperty> out;
  const QMetaObject* mo = o->metaObject();
  for (int i = QObject::staticMetaObject.propertyCount(); i < mo->propertyCount(); ++i)
    if (mo->property(i).isReadable()) out.append(mo->property(i));
  return out;
}

// Property names of the older toolkit and the Qt properties that hold the same.
struct Alias {
  const char* name;
  const char* qtNames[2];
};
constexpr Alias kAliases[] = {
    {"Caption", {"text", "windowTitle"}},
};

// Property values as text, one function per kind.

QString integerText(const QMetaProperty& p, const QVariant& v) {
  const auto n = readIntegral(v);
  if (!n) return {};
  const QByteArray type = p.metaType().name();
  if (type == "TColor") {
    for (const NamedColor& c : kColors)
      if (c.rgb == *n) return QString::fromLatin1(c.name);
  } else if (type == "TCursor") {
    const QMetaEnum e = QMetaEnum::fromType<Qt::CursorShape>();
    const char* key = *n >= INT_MIN && *n <= INT_MAX ? e.valueToKey(int(*n)) : nullptr;
    if (key) return QString::fromLatin1(key);
  }
  return isUnsigned(p.metaType()) && p.metaType().sizeOf() == 8 ? QString::number(v.toULongLong())
                                                                : QString::number(*n);
}

QString charText(const QMetaProperty& p, const QVariant& v) {
  return p.metaType().id() == QMetaType::Char ? QString(QChar::fromLatin1(v.value<char>()))
                                              : QString(v.value<QChar>());
}

QString enumText(const QMetaProperty& p, const QVariant& v) {
  const QMetaEnum e = p.enumerator();
  const auto n = readIntegral(v);
  if (!n || e.keyCount() == 0) return {};
  if (const char* key = e.valueToKey(int(*n))) return QString::fromLatin1(key);
  int lowest = 0;  // out of range: the name of the lowest value
  for (int i = 1; i < e.keyCount(); ++i)
    if (e.value(i) < e.value(lowest)) lowest = i;
  return QString::fromLatin1(e.key(lowest));
}

QString setText(const QMetaProperty& p, const QVariant& v) {
  const QMetaEnum e = p.enumerator();
  const auto n = readIntegral(v);
  QStringList names;
  for (int i = 0; n && i < e.keyCount(); ++i)
    if (singleBit(e.value(i)) && (*n & e.value(i)) == e.value(i)) names.append(QString::fromLatin1(e.key(i)));
  return u'[' + names.join(u',') + u']';
}

// Property values from text, one function per kind; nothing when the text
// does not convert (the property is then left as it is).

std::optional<QVariant> integerFromText(QMetaType t, const QString& v) {
  if (v.isEmpty()) return std::nullopt;
  const QByteArray type = t.name();
  std::optional<qint64> n;
  if (type == "TColor") {
    for (const NamedColor& c : kColors)
      if (zorv::sameTextAscii(QString::fromLatin1(c.name), v)) n = c.rgb;
  } else if (type == "TCursor") {
    n = enumValue(QMetaEnum::fromType<Qt::CursorShape>(), v);
  }
  if (!n) n = parseInteger(v);
  if (!n) return std::nullopt;
  return makeIntegral(t, *n);
}

std::optional<QVariant> charFromText(QMetaType t, const QString& v) {
  if (v.isEmpty()) return std::nullopt;
  if (t.id() != QMetaType::Char) return QVariant::fromValue(v[0]);
  if (v[0].unicode() > 255) return std::nullopt;
  return QVariant::fromValue(char(v[0].toLatin1()));
}

std::optional<QVariant> boolFromText(const QString& v) {
  if (v.isEmpty()) return std::nullopt;
  return QVariant(QStringLiteral("1TYty").contains(v[0]));
}

std::optional<QVariant> enumFromText(const QMetaProperty& p, const QString& v) {
  const auto n = enumValue(p.enumerator(), v);
  if (!n) return std::nullopt;
  return makeIntegral(p.metaType(), *n);
}

std::optional<QVariant> floatFromText(const QString& v) {
  bool ok = false;
  const double d = v.toDouble(&ok);
  if (!ok) return std::nullopt;
  return QVariant(d);
}

std::optional<QVariant> stringListFromText(const QString& v) {
  QStringList lines = v.split(u'|');
  if (lines.last().isEmpty()) lines.removeLast();  // a final separator ends the last line
  return QVariant(lines);
}

// The names between the brackets, separated by ",". Each must match a
// member's whole name, so that one name inside another does not count.
std::optional<QVariant> setFromText(const QMetaProperty& p, const QString& v) {
  QString s = TIniOut::Trim(v);
  if (s.startsWith(u'[')) s.remove(0, 1);
  if (s.endsWith(u']')) s.chop(1);
  qint64 bits = 0;
  for (const QString& name : s.split(u',', Qt::SkipEmptyParts))
    if (const auto n = enumValue(p.enumerator(), TIniOut::Trim(name))) bits |= *n;
  return makeIntegral(p.metaType(), bits);
}

}  // namespace

QByteArray TMethod::name() const {
  if (!isBound() || Code >= Data->metaObject()->methodCount()) return {};
  return Data->metaObject()->method(Code).name();
}

bool TMethod::invoke() const {
  if (!isBound() || Code >= Data->metaObject()->methodCount()) return false;
  return Data->metaObject()->method(Code).invoke(Data.data(), Qt::DirectConnection);
}

TIniOut::TIniOut(QObject* owner) : QObject(owner) {}

void TIniOut::setFileName(const QString& name) {
  const qsizetype slash = name.lastIndexOf(u'/');
  QString file = name.mid(slash + 1);
  if (file.isEmpty()) {  // no file name part: nothing to normalise
    fileName_ = name;
    return;
  }
  const qsizetype dot = file.lastIndexOf(u'.');
  if (dot >= 0) file.truncate(dot);
  fileName_ = name.left(slash + 1) + zorv::upperAsciiText(file) + QStringLiteral(".INI");
}

QString TIniOut::Trim(const QString& text) { return zorv::trimmedText(text); }

QString TIniOut::GetField(const QString& text, int index, QChar sep) {
  if (index < 0) return {};
  int count = 0;
  qsizetype start = 0;
  for (qsizetype i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == sep) {
      if (count == index) return Trim(text.mid(start, i - start));
      ++count;
      start = i + 1;
    }
  }
  return {};
}

QObject* TIniOut::FindTarget(const QString& name) const {
  QObject* w = parent();
  if (!w) return nullptr;
  if (zorv::sameTextAscii(name, w->objectName())) return w;
  return findOwned(w, name);
}

QMetaProperty TIniOut::FindProperty(const QObject* O, const QString& name) {
  if (!O) return {};
  for (const QMetaObject* mo = O->metaObject(); mo; mo = mo->superClass())
    for (int i = mo->propertyOffset(); i < mo->propertyCount(); ++i)
      if (zorv::sameTextAscii(QString::fromLatin1(mo->property(i).name()), name)) return mo->property(i);
  for (const Alias& a : kAliases) {
    if (!zorv::sameTextAscii(QString::fromLatin1(a.name), name)) continue;
    for (const char* qtName : a.qtNames) {
      const int i = O->metaObject()->indexOfProperty(qtName);
      if (i >= 0) return O->metaObject()->property(i);
    }
  }
  return {};
}

QString TIniOut::PropertyToText(const QObject* O, const QMetaProperty& P) const {
  if (!O) return {};
  if (!P.isValid()) {
    QStringList parts;
    for (const QMetaProperty& p : ownProperties(O)) parts.append(PropertyToText(O, p));
    return parts.join(u'|');
  }
  const QVariant v = P.read(O);
  if (!v.isValid()) return {};
  switch (kindOf(P)) {
    case Kind::Integer: return integerText(P, v);
    case Kind::Char: return charText(P, v);
    case Kind::Bool: return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case Kind::Enum: return enumText(P, v);
    case Kind::Float: return v.toString();  // the shortest text that reads back as the same value
    case Kind::String: return v.toString();
    case Kind::StringList: return v.toStringList().join(u'|');
    case Kind::Set: return setText(P, v);
    case Kind::Class: {
      const QObject* obj = objectOf(v);
      if (!obj) return {};
      // An object the holder owns (a font of a control) is kept by its properties;
      // any other object is a reference, kept by its name.
      return obj->parent() == O ? PropertyToText(obj) : obj->objectName();
    }
    case Kind::Method: return QString::fromLatin1(v.value<TMethod>().name());
    case Kind::Other: break;
  }
  return {};
}

void TIniOut::TextToProperty(QObject* O, const QMetaProperty& P, const QString& T) {
  if (!O) return;
  if (P.isValid()) {
    setOne(O, P, T, true);
    return;
  }
  const QList<QMetaProperty> props = ownProperties(O);
  for (int i = 0; i < props.size(); ++i) {
    const Kind k = kindOf(props[i]);
    if (k == Kind::Class || k == Kind::Method) return;  // fields after these are not matched up
    setOne(O, props[i], GetField(T, i, u'|'), false);
  }
}

void TIniOut::setOne(QObject* O, const QMetaProperty& P, const QString& V, bool single) {
  if (!P.isWritable()) return;
  std::optional<QVariant> value;
  switch (kindOf(P)) {
    case Kind::Integer: value = integerFromText(P.metaType(), V); break;
    case Kind::Char: value = charFromText(P.metaType(), V); break;
    case Kind::Bool: value = boolFromText(V); break;
    case Kind::Enum: value = enumFromText(P, V); break;
    case Kind::Float: value = floatFromText(V); break;
    case Kind::String: value = QVariant(V); break;
    case Kind::StringList: value = stringListFromText(V); break;
    case Kind::Set: value = setFromText(P, V); break;
    case Kind::Class: value = objectFromText(O, P, V, single); break;
    case Kind::Method: value = methodFromText(V, single); break;
    case Kind::Other: break;
  }
  if (value) P.write(O, *value);
}

std::optional<QVariant> TIniOut::objectFromText(QObject* O, const QMetaProperty& P, const QString& V, bool single) {
  if (!single) return std::nullopt;
  const QMetaType t = P.metaType();
  QObject* component = findOwned(parent(), V);
  const QMetaObject* wanted = t.metaObject();
  if (component && wanted && component->metaObject()->inherits(wanted)) return QVariant(t, &component);
  // An object the holder owns takes its properties from the text; a
  // reference to another object is never changed through it.
  if (QObject* held = objectOf(P.read(O)); held && held->parent() == O) TextToProperty(held, QMetaProperty(), V);
  return std::nullopt;
}

std::optional<QVariant> TIniOut::methodFromText(const QString& V, bool single) const {
  QObject* w = parent();
  if (!single || !w) return std::nullopt;
  const QString name = V.left(255);
  const QMetaObject* mo = w->metaObject();
  for (int i = 0; i < mo->methodCount(); ++i) {
    const QMetaMethod m = mo->method(i);
    if ((m.methodType() == QMetaMethod::Slot || m.methodType() == QMetaMethod::Method) &&
        zorv::sameTextAscii(QString::fromLatin1(m.name()), name))
      return QVariant::fromValue(TMethod{w, i});
  }
  return std::nullopt;
}

void TIniOut::forEachItem(
    const std::function<void(const Item&, QObject* target, const QMetaProperty& prop)>& visit) const {
  for (const QString& line : items_) {
    const Item item{GetField(line, 0, u';'), GetField(line, 1, u';'), GetField(line, 2, u';'),
                    GetField(line, 3, u';'), GetField(line, 4, u';'), GetField(line, 6, u';') == u"1"};
    if (item.object.isEmpty() && item.property.isEmpty() && item.section.isEmpty() && item.key.isEmpty()) continue;
    QObject* target = FindTarget(item.object);
    const QMetaProperty prop = FindProperty(target, item.property);
    if (target && prop.isValid()) visit(item, target, prop);
  }
}

bool TIniOut::LoadProperties() {
  lastError_.clear();
  if (fileName_.isEmpty()) {
    zorv::showMessageBox(QStringLiteral("No INI Filename Specified."), QStringLiteral("IniOut Property Manager"),
                         zorv::MessageIcon::Error);
    return true;
  }
  zorv::ProfileFile file(fileName_);
  const bool readOk = file.load();  // an unreadable file answers with the defaults
  if (!readOk) lastError_ = QStringLiteral("Cannot read settings from %1: %2").arg(fileName_, file.error());
  forEachItem([&](const Item& item, QObject* target, const QMetaProperty& prop) {
    try {
      TextToProperty(target, prop, file.value(item.section, item.key, item.defaultText));
    } catch (const std::exception&) {
      // one item that cannot be set does not stop the others
    }
  });
  return readOk;
}

bool TIniOut::SaveProperties() {
  lastError_.clear();
  if (fileName_.isEmpty()) {
    zorv::showMessageBox(QStringLiteral("No INI Filename Specified."), QStringLiteral("IniOut Property Manager"),
                         zorv::MessageIcon::Error);
    return false;
  }
  zorv::ProfileFile file(fileName_);
  file.setPrivate(privateFile_);
  bool ok = file.load();
  QString reason = file.error();
  forEachItem([&](const Item& item, QObject* target, const QMetaProperty& prop) {
    if (item.loadOnly) return;
    try {
      if (!file.setValue(item.section, item.key, PropertyToText(target, prop)) && ok) {
        ok = false;
        reason = QStringLiteral("the value of %1 cannot be stored as one line").arg(item.object + u'.' + item.property);
      }
    } catch (const std::exception& e) {
      if (ok) reason = QString::fromLocal8Bit(e.what());
      ok = false;
    }
  });
  if (!file.save()) {  // nothing at all was saved: that is the reason to give
    ok = false;
    reason = file.error();
  }
  if (!ok) lastError_ = QStringLiteral("Cannot save settings to %1: %2").arg(fileName_, reason);
  return ok;
}

namespace zorv {

void ConfigureMainSettings(TIniOut& ini, const QString& programDir) {
  const QString server = QString::fromLatin1(kDefaultServer);
  ini.setItems({
      QStringLiteral("EditNick;Text;YourNick;User Info;Nick;1;0"),
      QStringLiteral("EditServer;Text;%1;User Info;Server;1;0").arg(server),
      QStringLiteral("EditPort;Text;6667;User Info;Port;1;0"),
      QStringLiteral("LabelFont;Caption;MS Sans Serif;Client Info;Font Name;1;0"),
      QStringLiteral("LabelSize;Caption;8;Client Info;Font Size;1;0"),
  });
  QString dir = programDir;
  if (!dir.isEmpty() && !dir.endsWith(u'/')) dir += u'/';
  ini.setFileName(dir + QStringLiteral("Zorv.ini"));
}

}  // namespace zorv
