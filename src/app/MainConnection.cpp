// The main window's part in logging in: the "Connection settings" menu item
// and what the engine logs in with.
#include <QCheckBox>

#include "ConnectionDialog.h"
#include "ConnectionSettings.h"
#include "Main.h"

void TMainForm::OnConnectionSettingsClicked() {
  ConnectionDialog dialog(*connectionSettings, this);
  if (dialog.exec() != QDialog::Accepted) return;
  dialog.applyTo(*connectionSettings);
  tlsBox->setChecked(connectionSettings->tls);
}

zorv::SaslConfig TMainForm::Login() const { return connectionSettings->login(); }
