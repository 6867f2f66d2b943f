#pragma once
// Test helpers: files (the shared ones), and objects with one property of every kind TIniOut converts.
#include <QFile>
#include <QObject>
#include <QStringList>
#include <ostream>
#include <stdexcept>

#include "IniOut.h"
#include "TestSupport.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using testsupport::readBytes;
using testsupport::writeBytes;

class ProbeFont : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString Name MEMBER name)
  Q_PROPERTY(int Size MEMBER size)
  Q_PROPERTY(bool Bold MEMBER bold)

 public:
  using QObject::QObject;
  QString name = QStringLiteral("MS Sans Serif");
  int size = 8;
  bool bold = true;
};

class Probe : public QObject {
  Q_OBJECT
  Q_PROPERTY(int Count MEMBER count)
  Q_PROPERTY(TColor Color MEMBER color)
  Q_PROPERTY(TCursor Cursor MEMBER cursor)
  Q_PROPERTY(QChar Letter MEMBER letter)
  Q_PROPERTY(Align Alignment MEMBER alignment)
  Q_PROPERTY(bool Active MEMBER active)
  Q_PROPERTY(double Ratio MEMBER ratio)
  Q_PROPERTY(QString Text MEMBER text)
  Q_PROPERTY(Styles Style READ getStyle WRITE setStyle)
  Q_PROPERTY(QObject* Peer MEMBER peer)
  Q_PROPERTY(ProbeFont* Font MEMBER font)
  Q_PROPERTY(TMethod OnClick READ onClick WRITE setOnClick)
  Q_PROPERTY(QStringList Lines MEMBER lines)

 public:
  enum Align : int { alLeft = 1, alRight, alCenter };  // fixed type: any int is a value
  Q_ENUM(Align)
  // "Bold" is part of "BoldItalic": only whole names may count.
  enum StyleBit { Bold = 1, BoldItalic = 2, Italic = 4, Underline = 8 };
  Q_DECLARE_FLAGS(Styles, StyleBit)
  Q_FLAG(Styles)

  explicit Probe(QObject* parent = nullptr) : QObject(parent), font(new ProbeFont(this)) {}

  Styles getStyle() const { return style; }
  void setStyle(Styles s) { style = s; }
  TMethod onClick() const { return handler; }
  void setOnClick(const TMethod& m) { handler = m; }

  // Values that no conversion produces by accident.
  int count = 7;
  TColor color = TColor(0x0000ff);
  TCursor cursor = TCursor(Qt::PointingHandCursor);
  QChar letter = u'q';
  Align alignment = alCenter;
  bool active = true;
  double ratio = 3;
  QString text;
  Styles style;
  QObject* peer = nullptr;
  ProbeFont* font;
  TMethod handler;
  QStringList lines;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(Probe::Styles)

// The window: the owner of the settings component and of the probes.
class ProbeWindow : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  Q_INVOKABLE void HandleClick() {}
 public slots:
  void OtherHandler() {}
};
