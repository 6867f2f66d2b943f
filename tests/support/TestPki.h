#pragma once
// Test certificates made with the openssl command line in a temporary folder:
// a CA (ca.pem) and a server certificate it signed for 127.0.0.1 and
// localhost (server.pem, server.key); with others, also an unrelated
// self-signed certificate for the same names (other.pem, other.key) and one
// for another name (empty.pem), a file that trusts nothing the server shows.
#include <QTemporaryDir>
#include <string>

namespace testsupport {

struct TestPki {
  explicit TestPki(bool withOthers = true);
  std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
  // The SHA-256 fingerprint of a certificate file, 64 upper-case hex digits.
  std::string fingerprint(const char* pem) const;

  QTemporaryDir dir;
  bool ok = false;
};

}  // namespace testsupport
