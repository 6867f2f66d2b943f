#include "CertificatePrompt.h"

#include <QMessageBox>
#include <QPushButton>

#include "Profile.h"
#include "WSocket.h"

namespace zorv {

namespace {

CertChoice dialogPrompt(const QString& server, const CertDecision& decision) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Zorv"), certificatePromptText(server, decision));
  QPushButton* once = nullptr;
  if (decision.Verdict != CertVerdict::RefuseChanged)
    once = box.addButton(QStringLiteral("Connect this time"), QMessageBox::AcceptRole);
  QPushButton* always = box.addButton(QStringLiteral("Always trust"), QMessageBox::AcceptRole);
  QPushButton* cancel = box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(cancel);
  box.exec();
  if (once && box.clickedButton() == once) return CertChoice::ConnectOnce;
  if (box.clickedButton() == always) return CertChoice::AlwaysTrust;
  return CertChoice::Cancel;
}

CertificatePrompt& prompt() {
  static CertificatePrompt p;
  return p;
}

}  // namespace

CertificatePrompt setCertificatePrompt(CertificatePrompt p) {
  CertificatePrompt old = std::move(prompt());
  prompt() = std::move(p);
  return old;
}

QString certificatePromptText(const QString& server, const CertDecision& d) {
  const QString fp = QString::fromStdString(d.Fingerprint);
  if (d.Verdict == CertVerdict::RefuseChanged)
    return QStringLiteral("WARNING: the certificate of %1 has changed since you trusted it.\n"
                          "Someone may be intercepting the connection.\n\nNew SHA-256 fingerprint:\n%2\n\n"
                          "Trust the new certificate only if you know why it changed.")
        .arg(server, fp);
  return QStringLiteral("The certificate of %1 is not trusted: %2.\n\nSHA-256 fingerprint:\n%3")
      .arg(server, QString::fromStdString(d.Reason), fp);
}

CertAnswer acceptCertificate(const TSslPeer& peer, const QString& iniPath) {
  const QString key = QString::fromStdString(CertificateKey(peer.Host, peer.Port));
  ProfileFile ini(iniPath);
  const bool loaded = ini.load();
  const QString stored = ini.value(QStringLiteral("Certificates"), key, QString());
  const std::optional<std::string> pin =
      stored.isEmpty() ? std::nullopt : std::optional<std::string>(stored.toStdString());
  const CertDecision d = DecideCertificate(peer.VerifyResult, peer.HostMatches, peer.Sha256, pin);
  if (d.Verdict == CertVerdict::Accept) return {true, false, {}};
  const CertChoice choice = prompt() ? prompt()(key, d) : dialogPrompt(key, d);
  if (choice == CertChoice::AlwaysTrust) {
    // A file that could not be read is not replaced; the connection goes on this time.
    if (loaded && ini.setValue(QStringLiteral("Certificates"), key, QString::fromStdString(d.Fingerprint)))
      ini.save();
    return {true, false, d.Reason};
  }
  const bool once = choice == CertChoice::ConnectOnce && d.Verdict == CertVerdict::Ask;
  return {once, !once, d.Reason};
}

}  // namespace zorv
