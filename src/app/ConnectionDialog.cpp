#include "ConnectionDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "ConnectionSettings.h"

namespace {

QString oneLine(QString text) {
  text.remove(u'\r');
  text.remove(u'\n');
  return text;
}

}  // namespace

ConnectionDialog::ConnectionDialog(const ConnectionSettings& settings, QWidget* parent) : QDialog(parent) {
  setObjectName("ConnectionDialog");
  setWindowTitle("Connection settings");
  auto edit = [this](const char* name, const QString& text, bool secret, const char* hint) {
    auto* e = new QLineEdit(text, this);
    e->setObjectName(name);
    if (secret) e->setEchoMode(QLineEdit::Password);
    e->setToolTip(hint);
    e->setMinimumWidth(220);
    return e;
  };
  EditServerPassword = edit("EditServerPassword", settings.serverPassword, true,
                            "Sent as PASS before registering; empty: none");
  EditAccount = edit("EditAccount", settings.account, false, "The account to log in to with SASL; empty: your nick");
  EditPassword = edit("EditPassword", settings.password, true, "The account's password; empty: no SASL login");
  EditChannels = edit("EditChannels", settings.channels, false,
                      "Joined once the server has accepted you: #a,#b,#c, then keys after a blank: #a,#b keyA");
  tlsBox = new QCheckBox("Use TLS", this);
  tlsBox->setObjectName("CheckTLS");
  tlsBox->setChecked(settings.tls);

  auto* form = new QFormLayout;
  form->addRow("Server &password:", EditServerPassword);
  form->addRow("SASL &account:", EditAccount);
  form->addRow("SASL pass&word:", EditPassword);
  form->addRow("", tlsBox);
  form->addRow("&Channels:", EditChannels);
  auto* note = new QLabel("Passwords are kept in the settings file, readable by you alone.", this);
  note->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(note);
  layout->addWidget(buttons);
}

void ConnectionDialog::applyTo(ConnectionSettings& settings) const {
  settings.serverPassword = oneLine(EditServerPassword->text());
  settings.account = oneLine(EditAccount->text());
  settings.password = oneLine(EditPassword->text());
  settings.tls = tlsBox->isChecked();
  settings.channels = oneLine(EditChannels->text()).trimmed();
}
