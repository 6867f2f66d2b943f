#pragma once
// The user's say over a server certificate that is not trusted as it is:
// the pins of the settings file ([Certificates], "<host>:<port>" = SHA-256
// fingerprint), the decision rule, and a dialog that a test can replace.
#include <QString>
#include <functional>
#include <string>

#include "CertTrust.h"

struct TSslPeer;

namespace zorv {

enum class CertChoice { ConnectOnce, AlwaysTrust, Cancel };

using CertificatePrompt = std::function<CertChoice(const QString& server, const CertDecision& decision)>;

// Installs a prompt and returns the previous one (the dialog when none).
CertificatePrompt setCertificatePrompt(CertificatePrompt prompt);

// The dialog's text for a decision that asks or refuses.
QString certificatePromptText(const QString& server, const CertDecision& decision);

struct CertAnswer {
  bool accepted = false;
  bool refusedByUser = false;  // the user was asked and said no
  std::string reason;          // why it was not accepted as it is ("" when it was)
};

// Decides on the certificate the server presented, asking the user when the
// rule says so (and for a changed one, which only "always trust" lets in);
// "always trust" stores the fingerprint in iniPath.
CertAnswer acceptCertificate(const TSslPeer& peer, const QString& iniPath);

// Typing this port into the port field switches TLS on.
inline constexpr const char* kTlsPort = "6697";

}  // namespace zorv
