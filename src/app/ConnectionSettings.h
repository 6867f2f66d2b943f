#pragma once
// How the connection logs in, kept in the settings file (section "User
// Info"): a server password, a SASL account and password, and whether the
// connection uses TLS. The values are properties of this object so that the
// settings component reads and writes them like those of a control.
#include <QObject>
#include <QString>
#include <QStringList>

#include "Sasl.h"

class ConnectionSettings : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString ServerPassword MEMBER serverPassword)
  Q_PROPERTY(QString Account MEMBER account)
  Q_PROPERTY(QString Password MEMBER password)
  Q_PROPERTY(bool TLS MEMBER tls)
  Q_PROPERTY(bool Capabilities MEMBER capabilities)

 public:
  explicit ConnectionSettings(QObject* parent) : QObject(parent) { setObjectName("ConnectionSettings"); }

  // The settings component's item lines for the properties above.
  static QStringList settingsItems();

  // Whether the settings file will hold a password (it is then kept private).
  bool holdsPassword() const { return !serverPassword.isEmpty() || !password.isEmpty(); }
  // What the engine logs in with, as bytes (UTF-8).
  zorv::SaslConfig login() const;

  QString serverPassword;
  QString account;
  QString password;
  bool tls = false;  // shown and set by the main window's TLS check box too
  bool capabilities = true;  // [Connection] Capabilities: CAP negotiation on
};
