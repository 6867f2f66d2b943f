// The main window's part in logging in: the "Connection settings" menu item
// and what the engine logs in with.
#include <QCheckBox>

#include "ConnectionDialog.h"
#include "ConnectionSettings.h"
#include "Main.h"

void TMainForm::ConnectionSettingsItemClick() {
  ConnectionDialog dialog(*Connection, this);
  if (dialog.exec() != QDialog::Accepted) return;
  dialog.applyTo(*Connection);
  CheckTLS->setChecked(Connection->tls);
}

zorv::SaslConfig TMainForm::Login() const { return Connection->login(); }
