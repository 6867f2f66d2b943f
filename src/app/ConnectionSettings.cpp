#include "ConnectionSettings.h"

#include "Text.h"

QStringList ConnectionSettings::settingsItems() {
  return {QStringLiteral("ConnectionSettings;ServerPassword;;User Info;ServerPassword;1;0"),
          QStringLiteral("ConnectionSettings;Account;;User Info;Account;1;0"),
          QStringLiteral("ConnectionSettings;Password;;User Info;Password;1;0"),
          QStringLiteral("ConnectionSettings;TLS;0;User Info;TLS;1;0"),
          QStringLiteral("ConnectionSettings;Capabilities;1;Connection;Capabilities;1;0")};
}

zorv::SaslConfig ConnectionSettings::login() const {
  return {zorv::fromInput(serverPassword), zorv::fromInput(account), zorv::fromInput(password), capabilities};
}
