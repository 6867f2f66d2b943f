#pragma once
// Test certificates made with the openssl command line, and a loopback
// server on its own thread that speaks TLS (or deliberately does not).
#include <QProcess>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <string>
#include <thread>

#include "NetTestUtil.h"

namespace tlstest {

// A CA, a server certificate it signed for 127.0.0.1 and localhost, and an
// unrelated self-signed certificate for the same names.
struct TestPki {
  QTemporaryDir dir;
  bool ok = false;
  std::string path(const char* name) const { return dir.filePath(name).toStdString(); }

  static bool run(const QStringList& args, const QString& cwd) {
    QProcess p;
    p.setWorkingDirectory(cwd);
    p.start("openssl", args);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  }
  TestPki() {
    const QString d = dir.path();
    const QString subj = "/CN=zorv test";
    ok = dir.isValid() &&
         run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
              "-subj", "/CN=zorv test CA"}, d) &&
         run({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr", "-subj",
              "/CN=localhost"}, d) &&
         run({"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
              "-out", "server.pem", "-days", "2", "-extfile", "ext.cnf"}, d, "subjectAltName=IP:127.0.0.1,DNS:localhost\n") &&
         run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "other.key", "-out", "other.pem", "-days",
              "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"}, d) &&
         run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "empty.key", "-out", "empty.pem", "-days",
              "2", "-subj", "/CN=nobody"}, d);
  }
  static bool run(const QStringList& args, const QString& cwd, const char* extfile) {
    FILE* f = std::fopen((cwd + "/ext.cnf").toLocal8Bit().constData(), "w");
    if (!f) return false;
    std::fputs(extfile, f);
    std::fclose(f);
    return run(args, cwd);
  }
  // The SHA-256 fingerprint of a certificate file, 64 upper-case hex digits.
  std::string fingerprint(const char* pem) const {
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start("openssl", {"x509", "-in", pem, "-noout", "-fingerprint", "-sha256"});
    if (!p.waitForFinished(30000)) return {};
    std::string out = p.readAllStandardOutput().toStdString();
    std::string hex;
    const size_t eq = out.find('=');
    for (size_t i = eq == std::string::npos ? 0 : eq + 1; i < out.size(); ++i)
      if (std::isxdigit(static_cast<unsigned char>(out[i]))) hex += static_cast<char>(std::toupper(out[i]));
    return hex;
  }
};

// What the server does with the one client it accepts.
enum class Mode {
  Echo,             // TLS; sends a greeting line, then echoes every byte back
  CloseMidHandshake,  // reads the client's first bytes, then closes
  PlainText,        // answers the client's first bytes with a plain IRC line
  Silent,           // reads and never answers
};

class TlsServer {
 public:
  TlsServer(Mode mode, const std::string& cert, const std::string& key) : mode_(mode) {
    listener_ = testsupport::listenLoopback(&port_);
    std::signal(SIGPIPE, SIG_IGN);  // the server writes to a descriptor the client may have closed
    ctx_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_file(ctx_, cert.c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(ctx_, key.c_str(), SSL_FILETYPE_PEM);
    thread_ = std::thread([this] { Serve(); });
  }
  ~TlsServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
    SSL_CTX_free(ctx_);
  }
  int port() const { return port_; }
  // The plain bytes the server received (decrypted in TLS modes).
  std::string received() {
    std::lock_guard<std::mutex> l(m_);
    return received_;
  }
  // The first raw byte the client sent (-1 before any).
  int firstByte() const { return firstByte_; }
  bool handshakeDone() const { return handshakeDone_; }
  bool finished() const { return finished_; }

 private:
  // Waits up to ms for fd to become readable or the test to end.
  bool waitReadable(int fd, int ms) {
    for (int waited = 0; waited < ms && !stop_; waited += 20) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }
  void Serve() {
    if (!waitReadable(listener_, 20000)) return void(finished_ = true);
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return void(finished_ = true);
    timeval tv{0, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (mode_ == Mode::Echo) {
      Echo(fd);
    } else if (waitReadable(fd, 10000)) {
      char c;
      if (::recv(fd, &c, 1, MSG_PEEK) == 1) firstByte_ = static_cast<unsigned char>(c);
      char buf[4096];
      (void)::recv(fd, buf, sizeof buf, 0);
      if (mode_ == Mode::PlainText) {
        const char line[] = "ERROR :Closing Link: plain text only\r\n";
        (void)::send(fd, line, sizeof line - 1, MSG_NOSIGNAL);
      }
      if (mode_ == Mode::Silent)
        while (!stop_) waitReadable(fd, 100), (void)::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    }
    ::close(fd);
    finished_ = true;
  }
  void Echo(int fd) {
    if (waitReadable(fd, 10000)) {
      char c;
      if (::recv(fd, &c, 1, MSG_PEEK) == 1) firstByte_ = static_cast<unsigned char>(c);
    }
    SSL* ssl = SSL_new(ctx_);
    SSL_set_fd(ssl, fd);
    int r;
    while ((r = SSL_accept(ssl)) != 1 && !stop_) {
      const int e = SSL_get_error(ssl, r);
      if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE && !(e == SSL_ERROR_SYSCALL && errno == EAGAIN)) break;
    }
    if (r == 1) {
      handshakeDone_ = true;
      const char hello[] = ":server NOTICE * :hello over TLS\r\n";
      SSL_write(ssl, hello, sizeof hello - 1);
      char buf[16384];
      while (!stop_) {
        const int n = SSL_read(ssl, buf, sizeof buf);
        if (n > 0) {
          {
            std::lock_guard<std::mutex> l(m_);
            received_.append(buf, static_cast<size_t>(n));
          }
          SSL_write(ssl, buf, n);
          continue;
        }
        const int e = SSL_get_error(ssl, n);
        if (e == SSL_ERROR_ZERO_RETURN) break;
        if (e == SSL_ERROR_SYSCALL && errno != EAGAIN && errno != EWOULDBLOCK) break;
        if (e != SSL_ERROR_SYSCALL && e != SSL_ERROR_WANT_READ) break;
        ERR_clear_error();
      }
      SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    ERR_clear_error();
  }

  Mode mode_;
  int listener_ = -1, port_ = 0;
  SSL_CTX* ctx_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false}, handshakeDone_{false}, finished_{false};
  std::atomic<int> firstByte_{-1};
  std::mutex m_;
  std::string received_;
};

}  // namespace tlstest
