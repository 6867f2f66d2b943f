// The main window's part in logging in: the "Connection settings" menu item
// and what the engine logs in with.
#include "ConnectionDialog.h"
#include "ConnectionSettings.h"
#include "Main.h"

void TMainForm::ConnectionSettingsItemClick() {
  ConnectionDialog dialog(*Connection, this);
  if (dialog.exec() == QDialog::Accepted) dialog.applyTo(*Connection);
}

zorv::SaslConfig TMainForm::Sasl() const { return Connection->login(); }
