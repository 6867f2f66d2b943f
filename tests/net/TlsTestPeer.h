#pragma once
// A loopback TLS server on its own thread: a greeting line, then every byte echoed.
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

// What the server does with the one client it accepts (servers that break
// the handshake are plain loopback peers in the tests).
enum class Mode { Echo };

class TlsServer {
 public:
  TlsServer(Mode, const std::string& cert, const std::string& key) {
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
  // The bytes the server received, decrypted.
  std::string received() {
    std::lock_guard<std::mutex> l(m_);
    return received_;
  }

 private:
  void Serve() {
    pollfd p{listener_, POLLIN, 0};
    for (int waited = 0; waited < 20000 && !stop_ && ::poll(&p, 1, 20) == 0; waited += 20) {
    }
    const int fd = stop_ || !(p.revents & POLLIN) ? -1 : ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    timeval tv{0, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    SSL* ssl = SSL_new(ctx_);
    SSL_set_fd(ssl, fd);
    int r;
    while ((r = SSL_accept(ssl)) != 1 && !stop_) {
      const int e = SSL_get_error(ssl, r);
      if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE && !(e == SSL_ERROR_SYSCALL && errno == EAGAIN)) break;
    }
    if (r == 1) {
      const char hello[] = ":server NOTICE * :hello over TLS\r\n";
      SSL_write(ssl, hello, sizeof hello - 1);
      char buf[16384];
      while (!stop_) {
        const int n = SSL_read(ssl, buf, sizeof buf);
        if (n > 0) {
          std::lock_guard<std::mutex> l(m_);
          received_.append(buf, static_cast<size_t>(n));
          SSL_write(ssl, buf, n);
          continue;
        }
        const int e = SSL_get_error(ssl, n);
        if (e != SSL_ERROR_WANT_READ && !(e == SSL_ERROR_SYSCALL && (errno == EAGAIN || errno == EWOULDBLOCK))) break;
        ERR_clear_error();
      }
      SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    ERR_clear_error();
    ::close(fd);
  }

  int listener_ = -1, port_ = 0;
  SSL_CTX* ctx_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::string received_;
};

}  // namespace tlstest
