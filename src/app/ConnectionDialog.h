#pragma once
// The "Connection settings" dialog: the server password, the SASL account
// and password, TLS, and the channels joined once registered. OK writes them to the settings object (applyTo);
// Cancel leaves it as it was.
#include <QDialog>

class QCheckBox;
class QLineEdit;
class ConnectionSettings;

class ConnectionDialog : public QDialog {
  Q_OBJECT
 public:
  ConnectionDialog(const ConnectionSettings& settings, QWidget* parent);

  // Writes what the fields hold to settings (line breaks taken out: a value
  // is one line of the settings file).
  void applyTo(ConnectionSettings& settings) const;

  QLineEdit* EditServerPassword = nullptr;
  QLineEdit* EditAccount = nullptr;
  QLineEdit* EditPassword = nullptr;
  QLineEdit* EditChannels = nullptr;
  QCheckBox* tlsBox = nullptr;
};
