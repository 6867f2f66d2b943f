#include "TestPki.h"

#include <QFile>
#include <QProcess>
#include <cctype>

namespace testsupport {
namespace {

bool openssl(const QStringList& args, const QString& cwd) {
  QProcess p;
  p.setWorkingDirectory(cwd);
  p.start("openssl", args);
  return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace

TestPki::TestPki(bool withOthers) {
  const QString d = dir.path();
  QFile ext(dir.filePath("ext.cnf"));
  const QStringList names = {"-subj", "/CN=localhost"}, days = {"-days", "2"};
  const QStringList selfSigned = QStringList{"req", "-x509", "-newkey", "rsa:2048", "-nodes"} + days;
  ok = dir.isValid() && ext.open(QIODevice::WriteOnly) &&
       ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n") > 0 && (ext.close(), true) &&
       openssl(selfSigned + QStringList{"-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=zorv test CA"}, d) &&
       openssl(QStringList{"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr"} +
                   names, d) &&
       openssl(QStringList{"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                           "-CAcreateserial", "-out", "server.pem", "-extfile", "ext.cnf"} + days, d);
  if (ok && withOthers)
    ok = openssl(selfSigned + names +
                     QStringList{"-keyout", "other.key", "-out", "other.pem", "-addext",
                                 "subjectAltName=IP:127.0.0.1,DNS:localhost"}, d) &&
         openssl(selfSigned + QStringList{"-keyout", "empty.key", "-out", "empty.pem", "-subj", "/CN=nobody"}, d);
}

std::string TestPki::fingerprint(const char* pem) const {
  QProcess p;
  p.setWorkingDirectory(dir.path());
  p.start("openssl", {"x509", "-in", pem, "-noout", "-fingerprint", "-sha256"});
  if (!p.waitForFinished(30000)) return {};
  const std::string out = p.readAllStandardOutput().toStdString();
  std::string hex;
  const size_t eq = out.find('=');
  for (size_t i = eq == std::string::npos ? 0 : eq + 1; i < out.size(); ++i)
    if (std::isxdigit(static_cast<unsigned char>(out[i]))) hex += static_cast<char>(std::toupper(out[i]));
  return hex;
}

}  // namespace testsupport
